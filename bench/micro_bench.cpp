// Micro-benchmarks of the game's hot paths on the headless platform (Google Benchmark).
#include <benchmark/benchmark.h>

#include <cmath>

#include "tests/support/headless_game.h"

namespace glomper {
namespace {

using testing::HeadlessGame;

// The pointer goes round a circle, as in the whole-game benchmark.
void Steer(HeadlessGame& game, long i, bool through_events) {
  const double angle = static_cast<double>(i) * 2 * M_PI / 200;
  const float x = static_cast<float>(512 + 250 * std::cos(angle));
  const float y = static_cast<float>(384 + 250 * std::sin(angle));
  if (through_events) {
    game.system.MovePointer(x, y);
  } else {
    game.form->Form_MouseMove(0, 0, x, y);
  }
}

// The bar would end the game after 7801 ticks; a benchmark runs for longer.
void KeepAlive(Form1& form) {
  if (form.Picture2.Width() < 100) form.Picture2.SetWidth(7815);
}

void BM_TickLogicOnly(benchmark::State& state) {
  HeadlessGame game(1024, 768);
  game.StartPlay();
  long i = 0;
  for (auto _ : state) {
    Steer(game, i++, false);
    game.form->Timer1_Timer();
    KeepAlive(*game.form);
  }
}
BENCHMARK(BM_TickLogicOnly);

void BM_TickComposedAndPushed(benchmark::State& state) {
  HeadlessGame game(1024, 768);
  game.StartPlay();
  long i = 0;
  for (auto _ : state) {
    Steer(game, i++, true);
    game.Tick();
    KeepAlive(*game.form);
  }
  state.counters["pixels_per_tick"] = benchmark::Counter(
      static_cast<double>(game.Window().PushedPixels()) / static_cast<double>(i));
}
BENCHMARK(BM_TickComposedAndPushed);

void BM_BuildBoardAndFirstPaint(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
  for (auto _ : state) {
    state.PauseTiming();
    auto game = std::make_unique<HeadlessGame>(width, height);
    state.ResumeTiming();
    game->system.Step();  // the start-up poll: lays the board, then the screen is painted
    state.PauseTiming();
    game.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_BuildBoardAndFirstPaint)
    ->Args({1024, 768})
    ->Args({3840, 2160})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace glomper

BENCHMARK_MAIN();
