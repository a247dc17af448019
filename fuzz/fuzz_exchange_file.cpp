// Fuzz target: the exchange file as set-up reads it and Simulation rewrites it. The input's
// first four bytes give NPoints (its low byte, or any 16-bit value when bit 7 of the third
// byte is set), NSorties (1..40) and NInterrupts (1..30); the rest is the file, byte for byte:
// Interval, NRep, Time and replicates are whatever the bytes say, the last record may be cut
// short and the file may hold fewer records than NPoints. The model is fixed and small (one
// species decaying at rate 1, every output reads it) and the library is asked to load it,
// simulate it once, take one fitting step when bit 0 of the third byte is set, and release
// it. The engine is the exponential scheme, the one that stops when the time no longer moves:
// the times here are arbitrary. The file is also read record by record through the
// platform's reader. Raised failures are expected outcomes.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

#include "fuzz_input.h"
#include "platform/exchange_file.h"
#include "platform/failure.h"
#include "platform/variant.h"
#include "api/linked_host.h"

namespace tarvo::fuzz {
namespace {

using Host = LinkedHost;

HostSheet SmallModel(int outputs) {
  HostSheet m;
  m.intervals = kMaxIntervals;
  // The exponential scheme: it notices a step that can no longer move the time, so
  // arbitrary times (1e15 and its neighbour) cannot keep it stepping for ever.
  m.method = "CHU-BERMAN";
  m.tolerance = 1e-2;
  m.species = {"A"};
  m.species_start = std::vector<std::vector<std::string>>(1, std::vector<std::string>(30, "A1"));
  m.adjustables = {{"a0", 1.0, "", true}};
  m.rates = {{1, 1, "-1"}};
  m.outputs.assign(static_cast<size_t>(outputs), "F1");
  return m;
}

void ReadRecords(const std::string& path) {
  ExchangeFile f;
  FileRecord r{};
  try {
    FileOpenRead(f, FromUtf8(path), sizeof r);
    for (int j = 0; j < kMaxPoints + 1; ++j) FileReadRecord(f, &r);
  } catch (const Failure&) {
  }
  try {
    FileClose(f);
  } catch (const Failure&) {
  }
}

std::string Expanded(const std::string& compact) {
  constexpr size_t kStub = 256;
  std::string file;
  for (size_t at = 0; at < compact.size(); at += kStub) {
    std::string record = compact.substr(at, kStub);
    record.resize(sizeof(FileRecord), '\0');
    file += record;
  }
  return file;
}

void Run(FuzzInput& in) {
  const uint8_t points = in.Byte();
  const uint8_t outputs = in.Byte();
  const uint8_t flags = in.Byte();
  const uint8_t intervals = in.Byte();
  Host h(SmallModel(1 + outputs % kMaxOutputs));
  h.initials.NPoints = (flags & 0x80) ? in.Int16() : points;
  h.initials.NInterrupts = static_cast<int16_t>(1 + intervals % kMaxIntervals);
  const std::string file = (flags & 0x40) ? Expanded(in.Rest()) : in.Rest();
  std::ofstream(h.path, std::ios::binary | std::ios::trunc).write(file.data(), file.size());
  ReadRecords(h.path);
  h.CalculInitial();
  h.Simulate();
  if (flags & 1) h.Fit();
  h.Fin();
}

}  // namespace
}  // namespace tarvo::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tarvo::fuzz::FuzzInput in(data, size);
  tarvo::fuzz::Run(in);
  return 0;
}
