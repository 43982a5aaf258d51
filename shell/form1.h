#pragma once

#include <memory>

#include "assets/form2.h"
#include "platform/scene.h"
#include "platform/system.h"
#include "shell/numbers.h"

namespace glomper {

namespace detail {
// The window the sprites live in. A base of Form1 so that it exists before Form1's sprites
// and timers are made and is destroyed only after they are gone.
struct Form1Window {
  Form1Window(platform::System& system, std::unique_ptr<platform::Window> window)
      : system_(system), window_(std::move(window)) {}

  platform::System& system_;
  std::unique_ptr<platform::Window> window_;
};
}  // namespace detail

// The game window. It owns the game's whole state, every sprite and both timers; the game's
// procedures run as its methods, each in the folder of the part of the game it belongs to.
class Form1 : private detail::Form1Window {
 public:
  // Creates the window with its sprites and timers, hidden, then runs Form_Load.
  explicit Form1(platform::System& system);
  Form1(const Form1&) = delete;
  Form1& operator=(const Form1&) = delete;

  void Show() { window_->Show(); }
  platform::Window& GetWindow() { return *window_; }
  // The glyph store, created on first use and kept until the program ends.
  Form2& GetForm2();

  // ---- Event handlers (shell/form1.cpp) ----
  void Form_Load();
  void Form_MouseMove(Integer button, Integer shift, Single x, Single y);
  void Form_KeyDown(Integer key_code, Integer shift);
  void Form_Resize();
  void Timer2_Timer();
  void Timer1_Timer();

  // Blocks are laid this wide and high, in twips.
  static constexpr double kBlockSide = 495;
  // The cells of the board laid on a screen of this size, blocks of this size (twips); the
  // game refuses a screen of more than kIntegerMax. board/build_board.cpp
  static long BoardCells(double width, double height, double block_width, double block_height);

  // ---- The game's procedures ----
  void BuildBoard();             // board/build_board.cpp
  void MoveCreature();           // creature/steering.cpp, then EatBlockUnderCreature
  void EatBlockUnderCreature();  // board/eating.cpp: the second half of MoveCreature
  void AnimateCreature();        // creature/animation.cpp: first stage of a tick
  void RunDownHealthBar();       // hud/health_bar.cpp: second stage; may end the game
  void ShowBlocksLeft();         // hud/blocks_left.cpp: may end the game
  void AlignBlocksLeft();        // hud/blocks_left.cpp: the digit cells against the right edge

  // ---- Sprites (the scene is the window's; boxes are drawn above every image) ----
  static constexpr int kDigitCells = 4;  // Image3: thousands, hundreds, tens, units
  platform::Box& Picture2;               // the health bar
  platform::Box& Picture1;               // the creature box
  platform::ImageGroup Image1;           // creature frames 0..2, inside Picture1
  platform::ImageGroup Image2;           // blocks; member 0 is the prototype
  platform::ImageGroup Image3;           // digit cells 0..3, thousands to units
  platform::Timer Timer1;                // game clock
  platform::Timer Timer2;                // start-up poll

  // ---- Game state ----
  Single MouseX = 0, MouseY = 0;  // pointer target, pixels
  Single SpeedX = 0, SpeedY = 0;  // creature speed, pixels per tick
  Integer MaxSpeed = 0, MinSpeed = 0;
  Integer BlockCount = 0, BlocksEaten = 0, BlocksLeft = 0;
  Integer Columns = 0, Rows = 0;
  Integer CellColumn = 0, CellRow = 0, CellIndex = 0;
  Integer FrameTick = 0;  // belongs to the tick handler; kept between ticks

 private:
  std::unique_ptr<Form2> form2_;
  // Polls of the start-up timer that found the window not yet covering the screen.
  int polls_waited_ = 0;
};

}  // namespace glomper
