// Start-up, the window and its sprites, keys and the pointer.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "tests/support/headless_game.h"

namespace glomper {
namespace {

using testing::HeadlessGame;
constexpr std::uint32_t kBarGreen = 0x00C000;

TEST(ShellTest, TheInstructionsComeBeforeAnyWindow) {
  platform::HeadlessSystem system(1024, 768);
  bool window_existed = true;
  system.on_message = [&](const platform::RecordedMessage&) {
    window_existed = system.GameWindow() != nullptr;
  };
  std::unique_ptr<Form1> form;
  system.RunAsEvent([&] { form = Main(system); });
  ASSERT_EQ(system.Messages().size(), 1u);
  const platform::RecordedMessage& m = system.Messages()[0];
  EXPECT_EQ(m.title, "HOW TO PLAY");
  EXPECT_EQ(m.text,
            "Have the zorvel destroy all the crumble blocks before its Health Bar runs out!\r\n\r\n"
            "Press 'Esc' at any time to be a wuss and quit.");
  EXPECT_EQ(m.icon, platform::MessageIcon::kInformation);
  EXPECT_FALSE(window_existed);
  ASSERT_NE(system.GameWindow(), nullptr);
  EXPECT_TRUE(system.GameWindow()->Shown());
}

TEST(ShellTest, TheWindowOpensWithItsSpritesInTheirDesignPlaces) {
  HeadlessGame game(1024, 768);
  Form1& f = *game.form;
  EXPECT_EQ(f.MaxSpeed, 6);
  EXPECT_EQ(f.MinSpeed, -6);
  EXPECT_EQ(f.GetWindow().Width(), 1024 * 15);
  EXPECT_EQ(f.GetWindow().Height(), 768 * 15);
  EXPECT_EQ(f.GetWindow().State(), platform::kStateMaximised);

  EXPECT_EQ(game.Pixel(0, 0), kBarGreen);
  EXPECT_EQ(game.Pixel(520, 16), kBarGreen);
  EXPECT_NE(game.Pixel(521, 0), kBarGreen);
  EXPECT_NE(game.Pixel(0, 17), kBarGreen);
  EXPECT_NE(game.Pixel(5, 20), 0u) << "the prototype block shows below the bar";
  EXPECT_EQ(game.Pixel(34, 20), 0u);

  EXPECT_EQ(f.Picture1.Left(), 840);
  EXPECT_EQ(f.Picture1.Top(), 1560);
  EXPECT_EQ(f.Picture1.Width(), 600);
  EXPECT_EQ(game.Pixel(56 + 20, 104 + 20), 0u) << "a black box until the first tick";
  for (int k = 0; k < 3; ++k) EXPECT_FALSE(f.Image1(k).Visible());
  EXPECT_EQ(f.Image2(0).Width(), 495);
  EXPECT_TRUE(f.Image2(0).Stretch());
  const double lefts[] = {2640, 3360, 4320, 4800};
  for (int k = 0; k < 4; ++k) EXPECT_EQ(f.Image3(k).Left(), lefts[k]);
  EXPECT_TRUE(f.Timer2.Enabled());
  EXPECT_FALSE(f.Timer1.Enabled());
}

TEST(ShellTest, TheFirstPollThatSeesTheWindowCoverTheScreenStartsTheGameClock) {
  HeadlessGame game(1024, 768);
  ASSERT_TRUE(game.system.Step());
  EXPECT_FALSE(game.form->Timer2.Enabled());
  EXPECT_TRUE(game.form->Timer1.Enabled());
  EXPECT_EQ(game.system.Now(), 1 * platform::kNsPerMs);
  EXPECT_EQ(game.form->Timer1.Due(), 11 * platform::kNsPerMs);
}

TEST(ShellTest, NothingTicksWhileTheWindowDoesNotCoverTheScreen) {
  HeadlessGame game(1024, 768, /*window_manager_maximises=*/false);
  game.system.AdvanceMs(1500);
  EXPECT_FALSE(game.form->Timer1.Enabled());
  EXPECT_EQ(game.form->GetWindow().Width(), 525 * 15) << "the window's size before it is shown";
  EXPECT_EQ(game.form->GetWindow().Height(), 336 * 15);
  EXPECT_EQ(game.form->FrameTick, 0);
  EXPECT_EQ(game.form->Image2.Size(), 1) << "no board yet";
  game.Window().SetSize(1024, 768, true);
  game.system.AdvanceMs(1);
  EXPECT_TRUE(game.form->Timer1.Enabled());
}

TEST(ShellTest, AWindowManagerThatNeverMaximisesDelaysTheGameByAboutTwoSeconds) {
  HeadlessGame game(1024, 768, /*window_manager_maximises=*/false);
  game.Window().SetSize(800, 600, false);
  game.system.AdvanceMs(1999);
  EXPECT_FALSE(game.form->Timer1.Enabled());
  game.system.AdvanceMs(1);
  EXPECT_TRUE(game.form->Timer1.Enabled());
  EXPECT_EQ(game.form->GetWindow().Width(), 800 * 15) << "played on the window as it is";
}

TEST(ShellTest, AGameWindowThatIsDestroyedLeavesNoTimerToFire) {
  for (const bool playing : {false, true}) {
    HeadlessGame game(1024, 768, /*window_manager_maximises=*/playing);
    if (playing) game.StartPlay();
    ASSERT_TRUE(playing ? game.form->Timer1.Enabled() : game.form->Timer2.Enabled());
    game.form.reset();
    EXPECT_FALSE(game.system.Step()) << "playing: " << playing;
    EXPECT_TRUE(game.system.AdvanceMs(100));
  }
}

TEST(ShellTest, AnIntegerOutOfRangeStopsTheGameInEveryBuildNamingTheValue) {
  EXPECT_EQ(ToInteger(32767), 32767);
  EXPECT_EQ(ToInteger(-32768), -32768);
  for (const long wrong : {32768L, -32769L, 70000L}) {
    try {
      ToInteger(wrong);
      ADD_FAILURE() << wrong << " was let through";
    } catch (const std::range_error& fault) {
      EXPECT_NE(std::string(fault.what()).find(std::to_string(wrong)), std::string::npos);
    }
  }
}

TEST(ShellTest, EscEndsTheProgramAtOnceWithoutAMessage) {
  HeadlessGame game(1024, 768);
  game.StartPlay();
  game.Tick();
  game.system.PressKey(platform::kKeyEscape);
  EXPECT_TRUE(game.system.Ended());
  EXPECT_EQ(game.system.ExitStatus(), 0);
  EXPECT_EQ(game.system.Messages().size(), 1u) << "only the instructions";
  EXPECT_FALSE(game.Tick());
}

TEST(ShellTest, EscEndsTheProgramWhileWaitingForTheWindowToo) {
  HeadlessGame game(1024, 768, false);
  game.system.PressKey(platform::kKeyEscape);
  EXPECT_TRUE(game.system.Ended());
}

TEST(ShellTest, EveryOtherKeyIsIgnored) {
  HeadlessGame game(1024, 768);
  game.StartPlay();
  for (int key = 0; key < 256; ++key) {
    if (key != platform::kKeyEscape) game.system.PressKey(key, key % 8);
  }
  EXPECT_FALSE(game.system.Ended());
  EXPECT_TRUE(game.Tick());
}

TEST(ShellTest, PointerMovesAreStoredAsTheTargetWhateverTheButtons) {
  HeadlessGame game(1024, 768);
  EXPECT_EQ(game.form->MouseX, 0);
  EXPECT_EQ(game.form->MouseY, 0);
  game.system.MovePointer(700, 400);
  EXPECT_EQ(game.form->MouseX, 700);
  EXPECT_EQ(game.form->MouseY, 400);
  game.system.MovePointer(3.5f, 1023, /*button=*/1, /*shift=*/7);
  EXPECT_EQ(game.form->MouseX, 3.5f);
  EXPECT_EQ(game.form->MouseY, 1023);
}

TEST(ShellTest, TheGlyphStoreIsCreatedOnFirstUseAndKept) {
  HeadlessGame game(1024, 768);
  Form2& store = game.form->GetForm2();
  EXPECT_EQ(&store, &game.form->GetForm2());
  for (int d = 0; d < 10; ++d) {
    EXPECT_NE(store.Image1(d).GetPicture(), nullptr);
    if (d > 0) {
      EXPECT_NE(store.Image1(d).GetPicture(), store.Image1(d - 1).GetPicture());
    }
    EXPECT_EQ(store.Image1(d).Width(), 540);
    EXPECT_EQ(store.Image1(d).Height(), 720);
  }
}

}  // namespace
}  // namespace glomper
