// Cost of one new line in the main window's message list "Message_board" on the headless
// back end, once after 10 lines and once after 100,000 lines were added: the list keeps its
// newest 1000 lines, so both figures must show the same cost per line.
//
// Usage: message_board_bench [Google Benchmark options]

#include <benchmark/benchmark.h>

#include <string>

#include "ui/form.h"
#include "ui/headless/headless_toolkit.h"

namespace {

class board_form : public kelvad::ui::form {
  public:
    explicit board_form(kelvad::ui::toolkit& tk) : form(tk), board(*this, "Message_board") {}
    kelvad::ui::text_list board;
};

// A line as the result file cycle writes them.
std::string report_line(long n) {
    return "Processed ONGQ result: ONGQR_" + std::to_string(n) + ".csv";
}

void add_line_after(benchmark::State& state) {
    kelvad::ui::headless_toolkit tk;
    board_form f(tk);
    const long added_before = state.range(0);
    for (long i = 0; i < added_before; ++i) f.board.add(report_line(i));
    long n = added_before;
    for (auto _ : state) {
        f.board.add(report_line(n++));
        benchmark::DoNotOptimize(f.board.count());
    }
    state.counters["lines held"] = static_cast<double>(f.board.count());
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(add_line_after)->ArgName("added before")->Arg(10)->Arg(100000);

}  // namespace

BENCHMARK_MAIN();
