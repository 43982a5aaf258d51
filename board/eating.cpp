#include "shell/form1.h"

namespace glomper {

void Form1::EatBlockUnderCreature() {}

}  // namespace glomper
