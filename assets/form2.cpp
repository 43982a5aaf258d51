#include "assets/form2.h"

#include "assets/sprite_set.h"

namespace glomper {

Form2::Form2(platform::System& system) {
  for (int d = 0; d < assets::kDigits; ++d) {
    Image1.AddMember(d).SetPicture(system.LoadPicture(assets::DigitGlyphGif(d)));
  }
}

}  // namespace glomper
