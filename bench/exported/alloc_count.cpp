// alloc_count: heap allocations made by each exported call of the library, on the
// consecutive and the enzyme examples.
//
//   alloc_count [--expect-zero] [--verbose] [--examples DIR] [LIB.so]
//
// LIB.so defaults to the libTarvo_64.so of this build. For each example: Calcul_initial (the
// set-up, whose allocations are expected), Simulation at the start values, Ajustement until
// Done, and one more Simulation at the values reached; then Fin. Each Simulation and
// Ajustement after the set-up is counted on its own; the table gives per kind of call the
// number of calls, the fewest and the most allocations one call made, and the most one call
// made through operator new and the most bytes (--verbose lists every call).
//
// Counted: every malloc, calloc, realloc, aligned_alloc, posix_memalign and memalign call in
// the process while a call runs; this program defines those functions and passes them on to
// glibc's, so the allocations of the library and of the C and C++ runtimes it calls (stdio
// buffers, operator new) are all seen. The "new" column is the part made through the global
// operator new, which this program also replaces. Before counting, the program checks that
// an allocation inside the loaded library reaches its counters.
//
// --expect-zero: exit status 1 when any Simulation or Ajustement after the set-up allocated.
// Exit status 2 on a usage error, a failed call, or counters that see nothing.
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "exported/example_host.h"

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* p, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* p);
}

namespace {

std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};
std::atomic<long> g_bytes{0};
std::atomic<long> g_news{0};

void Note(size_t bytes) {
  if (!g_counting.load(std::memory_order_relaxed)) return;
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  g_bytes.fetch_add(static_cast<long>(bytes), std::memory_order_relaxed);
}

void* CountedNew(size_t size) {
  if (g_counting.load(std::memory_order_relaxed)) g_news.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(size == 0 ? 1 : size);
}

}  // namespace

extern "C" {

void* malloc(size_t size) noexcept {
  Note(size);
  return __libc_malloc(size);
}

void* calloc(size_t count, size_t size) noexcept {
  Note(count * size);
  return __libc_calloc(count, size);
}

void* realloc(void* p, size_t size) noexcept {
  Note(size);
  return __libc_realloc(p, size);
}

void free(void* p) noexcept { __libc_free(p); }

void* aligned_alloc(size_t alignment, size_t size) noexcept {
  Note(size);
  return __libc_memalign(alignment, size);
}

void* memalign(size_t alignment, size_t size) noexcept {
  Note(size);
  return __libc_memalign(alignment, size);
}

int posix_memalign(void** out, size_t alignment, size_t size) noexcept {
  if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0) return EINVAL;
  Note(size);
  void* p = __libc_memalign(alignment, size);
  if (!p) return ENOMEM;
  *out = p;
  return 0;
}

}  // extern "C"

void* operator new(size_t size) {
  if (void* p = CountedNew(size)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t size) {
  if (void* p = CountedNew(size)) return p;
  throw std::bad_alloc();
}
void* operator new(size_t size, const std::nothrow_t&) noexcept { return CountedNew(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return CountedNew(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

using namespace tarvo;
using namespace tarvo::bench;

struct Count {
  long allocations = 0, bytes = 0, news = 0;
};

template <class Call>
Count Counted(Call&& call) {
  g_allocations = 0;
  g_bytes = 0;
  g_news = 0;
  g_counting = true;
  call();
  g_counting = false;
  return Count{g_allocations.load(), g_bytes.load(), g_news.load()};
}

// The calls of one kind: how many, the fewest and most allocations one of them made, and
// the most it made through new and the most bytes.
struct Row {
  explicit Row(const char* name) : call(name) {}
  const char* call;
  int calls = 0;
  long fewest = 0, most = 0, most_new = 0, most_bytes = 0;
  void Add(const Count& c) {
    fewest = calls == 0 ? c.allocations : std::min(fewest, c.allocations);
    most = std::max(most, c.allocations);
    most_new = std::max(most_new, c.news);
    most_bytes = std::max(most_bytes, c.bytes);
    ++calls;
  }
};

std::string Bytes(long b) {
  char text[32];
  if (b >= 1000000)
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(b) / 1e6);
  else if (b >= 1000)
    std::snprintf(text, sizeof text, "%.1f kB", static_cast<double>(b) / 1e3);
  else
    std::snprintf(text, sizeof text, "%ld B", b);
  return text;
}

void PrintRow(const std::string& example, const Row& r) {
  std::printf("%-12s %-15s %5d %7ld %7ld %7ld %10s\n", example.c_str(), r.call, r.calls,
              r.fewest, r.most, r.most_new, Bytes(r.most_bytes).c_str());
}

// Counts the calls of one example; false (and a message) when a call fails. after_setup
// collects the allocations of every Simulation and Ajustement.
bool CountExample(const Library& lib, const Example& ex, const std::string& exchange,
                  bool verbose, long& after_setup) {
  HostBlocks h(lib, ex, exchange);
  if (!h.FileExists()) {
    std::fprintf(stderr, "alloc_count: cannot write %s\n", exchange.c_str());
    return false;
  }
  const BFitSet& fit = h.records.fitset;
  Row setup("Calcul_initial"), sims("Simulation"), fits("Ajustement");
  auto fail = [&](const char* call) {
    std::fprintf(stderr, "alloc_count: %s: %s: Erreur %d %s\n", ex.name.c_str(), call,
                 fit.Erreur, lib.LastFailure().c_str());
    h.Fin();
    return false;
  };
  auto show = [&](const char* call, int n, const Count& c) {
    if (verbose)
      std::printf("  %s %s #%d: %ld allocations (%ld through new), %s\n", ex.name.c_str(), call,
                  n, c.allocations, c.news, Bytes(c.bytes).c_str());
    after_setup += c.allocations;
  };

  setup.Add(Counted([&] { h.CalculInitial(); }));
  if (fit.Erreur != 0) return fail("Calcul_initial");
  const Count first = Counted([&] { h.Simulate(); });
  sims.Add(first);
  show("Simulation", 1, first);
  if (fit.Erreur != 0) return fail("Simulation");
  for (int n = 1; n <= ex.max_calls && fit.Done == 0; ++n) {
    const Count c = Counted([&] { h.Fit(); });
    fits.Add(c);
    show("Ajustement", n, c);
    if (fit.Erreur != 0) return fail("Ajustement");
  }
  const Count last = Counted([&] { h.Simulate(); });
  sims.Add(last);
  show("Simulation", 2, last);
  if (fit.Erreur != 0) return fail("Simulation");
  h.Fin();
  for (const Row& r : {setup, sims, fits}) PrintRow(ex.name, r);
  return true;
}

int Usage() {
  std::fprintf(stderr, "usage: alloc_count [--expect-zero] [--verbose] [--examples DIR] [LIB.so]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  bool expect_zero = false, verbose = false;
  CommandLine line;  // no --reps
  const bool read = ReadCommandLine(argc, argv, line, [&](int, char** args, int& i) {
    if (std::strcmp(args[i], "--expect-zero") == 0) expect_zero = true;
    else if (std::strcmp(args[i], "--verbose") == 0) verbose = true;
    else return 0;
    return 1;
  });
  if (!read) return Usage();
  if (line.files.empty()) line.files.push_back(TARVO_SHARED_LIBRARY);

  Library libs[2];
  if (!OpenLibraries("alloc_count", line.files, libs)) return 2;
  const Library& lib = libs[0];
  // One string made by the library's own allocator must be counted once.
  BSTR probe = nullptr;
  const Count seen = Counted([&] { probe = lib.ole.alloc_len(u"probe", 5); });
  VARIANT cell{};
  cell.vt = VT_BSTR;
  cell.bstrVal = probe;
  lib.ole.clear(&cell);
  if (seen.allocations != 1) {
    std::fprintf(stderr, "alloc_count: the library's allocations do not reach the counters "
                         "(%ld counted for one string)\n", seen.allocations);
    return 2;
  }

  Example examples[2];
  std::string folder;
  if (!StartExamples("alloc_count", line.examples_dir, examples, folder)) return 2;
  std::printf("Heap allocations per call (malloc family; \"new\": of those, through operator "
              "new)\nlibrary: %s\n\n", lib.path.c_str());
  std::printf("%-12s %-15s %5s %7s %7s %7s %10s\n", "example", "call", "calls", "fewest",
              "most", "new", "bytes");
  std::printf("%-12s %-15s %5s %7s %7s %7s %10s\n", "", "", "", "", "", "(most)", "(most)");
  long after_setup = 0;
  bool ok = true;
  for (const Example& ex : examples)
    ok = ok && CountExample(lib, ex, folder + "/" + ex.name + ".dat", verbose, after_setup);
  RemoveScratchFolder(folder);
  if (!ok) return 2;
  std::printf("\nAllocations in Simulation and Ajustement after set-up, all calls: %ld\n",
              after_setup);
  if (expect_zero && after_setup != 0) {
    std::fprintf(stderr, "alloc_count: Simulation and Ajustement must not allocate after set-up\n");
    return 1;
  }
  return 0;
}
