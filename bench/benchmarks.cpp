// plasma-bench: what the display costs per page, per presentation, per scroll step and per document
// load, at 1920 x 1080 and 3840 x 2160, each beside a plain memcpy of a frame of the same size
// measured in the same run. Cold figures (the first page of a fresh process) come from children
// of this program started with --cold.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/measure.h"
#include "support/scene.h"
#include "support/whole_program.h"

using namespace plasma::bench;

namespace {

constexpr std::array<FrameSize, 2> kSizes{kFullHd, kUltraHd};
constexpr int kWipeSteps = 4;

Scene& sceneFor(FrameSize size) {
  static std::map<int, std::unique_ptr<Scene>> scenes;
  auto& s = scenes[size.width];
  if (!s) s = std::make_unique<Scene>(size);
  return *s;
}

void frameMemcpy(benchmark::State& state, FrameSize size) {
  FrameCopy copy(size);
  for (auto _ : state) copy.run();
}

void page(benchmark::State& state, FrameSize size, PageFamily family) {
  Scene& scene = sceneFor(size);
  scene.prepare(family);
  scene.paint();  // the glyphs this page needs are in the cache from here on
  for (auto _ : state) scene.paint();
}

void present(benchmark::State& state, FrameSize size, int wipeSteps) {
  Scene& scene = sceneFor(size);
  scene.prepare(PageFamily::Board);
  scene.paint();
  for (auto _ : state) scene.present(wipeSteps);
  state.counters["copies"] = wipeSteps > 1 ? wipeSteps : 1;
}

void scrollStep(benchmark::State& state, FrameSize size) {
  Scene& scene = sceneFor(size);
  scene.startScrolling();
  for (auto _ : state) scene.scrollStep();
  state.counters["area_px"] = scene.scrollAreaPixels();
}

void loadDocument(benchmark::State& state) {
  Scene& scene = sceneFor(kFullHd);
  for (auto _ : state) scene.loadDocument();
}

void withStatistics(benchmark::internal::Benchmark* b) {
  b->Unit(benchmark::kMicrosecond)
      ->MinTime(0.05)
      ->Repetitions(9)
      ->ReportAggregatesOnly(true)
      ->ComputeStatistics("min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); })
      ->ComputeStatistics("max", [](const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); });
}

void registerAll() {
  for (FrameSize size : kSizes) {
    const std::string tail = "/" + sizeName(size);
    withStatistics(benchmark::RegisterBenchmark(("frame-memcpy" + tail).c_str(), frameMemcpy, size));
    for (PageFamily f : kPageFamilies) {
      withStatistics(benchmark::RegisterBenchmark(("page/" + std::string(familyName(f)) + tail).c_str(),
                                                  page, size, f));
    }
    withStatistics(benchmark::RegisterBenchmark(("present/plain" + tail).c_str(), present, size, 1));
    withStatistics(benchmark::RegisterBenchmark(("present/wipe4" + tail).c_str(), present, size, kWipeSteps));
    withStatistics(benchmark::RegisterBenchmark(("scroll-step" + tail).c_str(), scrollStep, size));
  }
  withStatistics(benchmark::RegisterBenchmark("load-document", loadDocument));
}

struct Row {
  double median = 0, min = 0, max = 0;
};

// Prints Google Benchmark's usual lines and keeps the aggregates for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      if (r.run_type != Run::RT_Aggregate) continue;
      // The bare name, without the "/min_time:.../repeats:..." Google Benchmark appends.
      const std::string name = r.run_name.function_name;
      Row& row = rows_[name];
      const double us = r.GetAdjustedRealTime();
      if (r.aggregate_name == "median") row.median = us;
      if (r.aggregate_name == "min") row.min = us;
      if (r.aggregate_name == "max") row.max = us;
      if (std::find(order_.begin(), order_.end(), name) == order_.end()) order_.push_back(name);
    }
  }
  const std::map<std::string, Row>& rows() const { return rows_; }
  const std::vector<std::string>& order() const { return order_; }

 private:
  std::map<std::string, Row> rows_;
  std::vector<std::string> order_;
};

// Budget as a multiple of the frame memcpy, or 0 where the budget is not a ratio.
double ratioBudget(const std::string& name) {
  if (name.rfind("page/", 0) == 0) return 3.0;
  if (name.rfind("present/plain", 0) == 0) return 2.0;
  if (name.rfind("present/wipe4", 0) == 0) return 2.0 * kWipeSteps;  // 2x per copy
  if (name.rfind("scroll-step", 0) == 0) return 0.5;
  return 0;
}

void printSummary(const SummaryReporter& reporter, int coldRuns, const char* self) {
  std::printf("\n== summary: microseconds (median, min, max of 9 repetitions); ratio = median / frame-memcpy median\n");
  std::printf("%-34s %10s %10s %10s %8s %8s\n", "figure", "median", "min", "max", "ratio", "budget");
  for (const std::string& name : reporter.order()) {
    const Row& r = reporter.rows().at(name);
    const std::size_t slash = name.rfind('/');
    const std::string size = slash == std::string::npos ? "" : name.substr(slash + 1);
    const auto memcpyRow = reporter.rows().find("frame-memcpy/" + size);
    const double reference = memcpyRow != reporter.rows().end() ? memcpyRow->second.median
                             : reporter.rows().count("frame-memcpy/1920x1080")
                                 ? reporter.rows().at("frame-memcpy/1920x1080").median
                                 : 0;
    const double budget = ratioBudget(name);
    char budgetText[16] = "";
    if (budget > 0) std::snprintf(budgetText, sizeof budgetText, "%.1fx", budget);
    if (name == "load-document") std::snprintf(budgetText, sizeof budgetText, "50us");
    std::printf("%-34s %10.1f %10.1f %10.1f %7.2fx %8s\n", name.c_str(), r.median, r.min, r.max,
                reference > 0 ? r.median / reference : 0, budgetText);
  }
  if (coldRuns <= 0) return;
  std::printf("\n== cold: the first page in a fresh process, %d processes each; milliseconds (median, min, max)\n",
              coldRuns);
  std::printf("%-34s %10s %10s %10s %10s %8s\n", "figure", "median", "min", "max", "font-setup", "budget");
  for (FrameSize size : kSizes) {
    for (PageFamily f : kPageFamilies) {
      std::vector<double> paint, fonts;
      for (int i = 0; i < coldRuns; ++i) {
        const ColdFigures c = runColdChild({self, "--cold", familyName(f), sizeName(size)});
        paint.push_back(c.firstPaintUs / 1000);
        fonts.push_back(c.fontSetupUs / 1000);
      }
      const Figure p = summarize(paint), fs = summarize(fonts);
      std::printf("%-34s %10.2f %10.2f %10.2f %10.2f %6.0fms\n",
                  ("cold/" + std::string(familyName(f)) + "/" + sizeName(size)).c_str(), p.median, p.min,
                  p.max, fs.median, size.width > 1920 ? 60.0 : 30.0);
    }
  }
}

// --whole-program SIZE [TYPE SCENARIO PAGE-SECONDS RUN-SECONDS]: one run of the real program,
// for bench/whole-program.
int wholeProgram(int argc, char** argv) {
  const auto size = sizeFromName(argv[2]);
  if (!size) {
    std::fprintf(stderr, "usage: plasma-bench --whole-program WIDTHxHEIGHT [TYPE SCENARIO PAGE-SECONDS RUN-SECONDS]\n");
    return 2;
  }
  WholeProgramOptions o;
  std::string self = "/proc/self/exe";
  char path[4096];
  const ssize_t n = ::readlink(self.c_str(), path, sizeof path - 1);
  if (n <= 0) return 1;
  path[n] = '\0';
  o.binDir = std::string(path).substr(0, std::string(path).rfind('/'));
  o.size = *size;
  if (argc > 3) o.displayType = std::atoi(argv[3]);
  if (argc > 4) o.scenario = argv[4];
  if (argc > 5) o.pageSeconds = std::atoi(argv[5]);
  if (argc > 6) o.runSeconds = std::atof(argv[6]);
  try {
    const WholeProgramFigures f = runWholeProgram(o);
    std::printf("start-ms %.1f\npeak-rss-kb %ld\ncpu-seconds %.3f\nwindow-seconds %.2f\ncpu-percent %.3f\n",
                f.startMs, f.peakResidentKb, f.cpuSeconds, f.windowSeconds, f.cpuPercent());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "plasma-bench: %s\n", e.what());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "--whole-program") == 0) return wholeProgram(argc, argv);
  if (argc == 4 && std::strcmp(argv[1], "--cold") == 0) {
    const auto family = familyFromName(argv[2]);
    const auto size = sizeFromName(argv[3]);
    if (!family || !size) {
      std::fprintf(stderr, "usage: plasma-bench --cold FAMILY WIDTHxHEIGHT\n");
      return 2;
    }
    return coldChild(*family, *size);
  }
  int coldRuns = 5;
  std::vector<char*> rest;
  for (int i = 0; i < argc; ++i) {
    if (std::strncmp(argv[i], "--cold-runs=", 12) == 0) {
      coldRuns = std::atoi(argv[i] + 12);
    } else {
      rest.push_back(argv[i]);
    }
  }
  int restCount = static_cast<int>(rest.size());
  benchmark::Initialize(&restCount, rest.data());
  if (benchmark::ReportUnrecognizedArguments(restCount, rest.data())) return 2;
  registerAll();
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  printSummary(reporter, coldRuns, "/proc/self/exe");
  benchmark::Shutdown();
  return 0;
}
