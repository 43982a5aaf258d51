#include "shell/form1.h"

namespace glomper {

void Form1::MoveCreature() {}

}  // namespace glomper
