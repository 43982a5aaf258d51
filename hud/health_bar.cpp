#include "shell/form1.h"

namespace glomper {

void Form1::RunDownHealthBar() {}

}  // namespace glomper
