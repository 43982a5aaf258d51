#include "shell/form1.h"

namespace glomper {

void Form1::ShowBlocksLeft() {}

}  // namespace glomper
