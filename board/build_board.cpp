#include "shell/form1.h"

namespace glomper {

void Form1::BuildBoard() {}

}  // namespace glomper
