#include "assets/form2.h"

#include "assets/sprite_set.h"

namespace glomper {

namespace {
constexpr double kGlyphPitchTwips = 600;
}

Form2::Form2(platform::System& system) {
  for (int d = 0; d < assets::kDigits; ++d) {
    platform::Image& glyph = Image1.AddMember(d);
    glyph.Move(kGlyphPitchTwips * d, 0);
    glyph.SetPicture(system.LoadPicture(assets::DigitGlyphGif(d)));
  }
}

}  // namespace glomper
