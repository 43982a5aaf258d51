#include "shell/form1.h"

#include "assets/sprite_set.h"

namespace glomper {

namespace {

constexpr int kDesignWidthPx = 525;  // only until the window covers the screen
constexpr int kDesignHeightPx = 336;
constexpr int kGameClockMs = 10;
constexpr int kStartupPollMs = 1;
constexpr Integer kEscape = platform::kKeyEscape;
// A window manager that never lets the window cover the screen must not leave the player
// before a black window: after about two seconds the game starts on the window as it is.
constexpr int kMaxPollsWaited = 2000;

constexpr platform::Rgb kBlack{0, 0, 0};
constexpr platform::Rgb kBarStartColour{0, 192, 0};

// Design-time places of the sprites, in twips.
constexpr double kCreatureLeft = 840, kCreatureTop = 1560, kCreatureSide = 600;
constexpr double kBarWidth = 7815, kBarHeight = 255;
constexpr double kCellLefts[] = {2640, 3360, 4320, 4800};
constexpr double kCellWidth = 735, kCellHeight = 855;

}  // namespace

Form1::Form1(platform::System& system)
    : Form1Window(system,
                  system.CreateWindow({kDesignWidthPx, kDesignHeightPx, assets::IconBmp()})),
      Picture2(window_->GetScene().AddBox()),
      Picture1(window_->GetScene().AddBox()),
      Image1(window_->GetScene(), &Picture1),
      Image2(window_->GetScene()),
      Image3(window_->GetScene()),
      Timer1(system.CreateTimer(kGameClockMs, false, [this] { Timer1_Timer(); })),
      Timer2(system.CreateTimer(kStartupPollMs, true, [this] { Timer2_Timer(); })) {
  Picture2.Move(0, 0);
  Picture2.Resize(kBarWidth, kBarHeight);
  Picture2.SetFillColor(kBarStartColour);

  Picture1.Move(kCreatureLeft, kCreatureTop);
  Picture1.Resize(kCreatureSide, kCreatureSide);
  Picture1.SetFillColor(kBlack);
  for (int frame = 0; frame < assets::kCreatureFrames; ++frame) {
    platform::Image& image = Image1.AddMember(frame);
    image.SetPicture(system.LoadPicture(assets::CreatureFrameGif(frame)));
    image.SetVisible(false);
  }

  for (int k = 0; k < kDigitCells; ++k) {
    platform::Image& cell = Image3.AddMember(k);
    cell.Move(kCellLefts[k], 0);
    cell.Resize(kCellWidth, kCellHeight);
  }

  platform::Image& prototype = Image2.AddMember(0);
  prototype.SetStretch(true);
  prototype.Resize(kBlockSide, kBlockSide);
  prototype.SetPicture(system.LoadPicture(assets::BlockTileGif()));

  window_->on_mouse_move = [this](int button, int shift, float x, float y) {
    Form_MouseMove(ToInteger(button), ToInteger(shift), x, y);
  };
  window_->on_key_down = [this](int key_code, int shift) {
    Form_KeyDown(static_cast<Integer>(key_code), ToInteger(shift));
  };
  window_->on_resize = [this] { Form_Resize(); };
  Form_Load();
}

Form2& Form1::GetForm2() {
  if (!form2_) form2_ = std::make_unique<Form2>(system_);
  return *form2_;
}

void Form1::Form_Load() {
  MaxSpeed = 6;
  MinSpeed = -6;
}

void Form1::Form_MouseMove(Integer, Integer, Single x, Single y) {
  MouseX = x;
  MouseY = y;
}

void Form1::Form_KeyDown(Integer key_code, Integer) {
  if (key_code == kEscape) system_.End(0);
}

// The screen changed size during play. The board is laid once and stays as it is; the count
// would be lost off a narrower screen, so its cells follow the right edge.
void Form1::Form_Resize() {
  if (BlockCount > 0) AlignBlocksLeft();
}

void Form1::Timer2_Timer() {
  if (window_->State() != platform::kStateMaximised && ++polls_waited_ < kMaxPollsWaited) return;
  BuildBoard();
  Timer2.SetEnabled(false);
  Timer1.SetEnabled(true);
}

void Form1::Timer1_Timer() {
  AnimateCreature();
  RunDownHealthBar();  // ends the game, never returning here, when the bar has run out
  MoveCreature();
}

}  // namespace glomper
