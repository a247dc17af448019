// The records and blocks that cross the host boundary, and the point table, with their exact
// byte layouts. Every layout is pinned by static_assert: hosts and stored exchange files
// depend on each offset.
//
// Host indices are 1-based; the arrays here are 0-based (entry n-1 holds index n).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "Symbolic/compil.h"
#include "Symbolic/limits.h"
#include "platform/variant.h"

namespace tarvo {

static_assert(std::endian::native == std::endian::little,
              "records are read and written as little-endian bytes");

using SmallInt = int16_t;
using WordBool = int16_t;  // 0 false, any other value true; the library writes -1 for true
inline constexpr WordBool kTrue = -1;
inline constexpr WordBool kFalse = 0;

struct BInitials {
  VARIANT FileName;
  SmallInt NEspeces;
  SmallInt NInterrupts;
  SmallInt NParametres;
  SmallInt NAjustables;
  SmallInt NPoints;
  SmallInt NSorties;
};
static_assert(sizeof(BInitials) == 40);
static_assert(offsetof(BInitials, FileName) == 0);
static_assert(offsetof(BInitials, NEspeces) == 24);
static_assert(offsetof(BInitials, NInterrupts) == 26);
static_assert(offsetof(BInitials, NParametres) == 28);
static_assert(offsetof(BInitials, NAjustables) == 30);
static_assert(offsetof(BInitials, NPoints) == 32);
static_assert(offsetof(BInitials, NSorties) == 34);

struct BFitSet {
  SmallInt Erreur;
  SmallInt MaxIter;
  double Coeff;
  double TypeErreur;
  double Tolerance;
  double Marquard;
  double Precision;
  double ErreurExp;
  double ErreurCalc;
  VARIANT Method;
  WordBool Done;
};
static_assert(sizeof(BFitSet) == 96);
static_assert(offsetof(BFitSet, Erreur) == 0);
static_assert(offsetof(BFitSet, MaxIter) == 2);
static_assert(offsetof(BFitSet, Coeff) == 8);
static_assert(offsetof(BFitSet, TypeErreur) == 16);
static_assert(offsetof(BFitSet, Tolerance) == 24);
static_assert(offsetof(BFitSet, Marquard) == 32);
static_assert(offsetof(BFitSet, Precision) == 40);
static_assert(offsetof(BFitSet, ErreurExp) == 48);
static_assert(offsetof(BFitSet, ErreurCalc) == 56);
static_assert(offsetof(BFitSet, Method) == 64);
static_assert(offsetof(BFitSet, Done) == 88);

// The host's adjustables block is packed: 3300 bytes, where natural alignment would pad it to
// 3304. Alignment 4 keeps every member at its natural offset and the size at 3300, so neither
// a copy nor a member access ever touches byte 3300. Use the accessors below to take a
// member's address.
#pragma pack(push, 4)
struct BAjustables {
  VARIANT Name[kMaxAdjustables];
  double Value[kMaxAdjustables];
  double SD[kMaxAdjustables];
  VARIANT EqualTo[kMaxAdjustables];
  SmallInt Adjustable[kMaxAdjustables];
};
#pragma pack(pop)
static_assert(sizeof(BAjustables) == 3300);
static_assert(offsetof(BAjustables, Name) == 0);
static_assert(offsetof(BAjustables, Value) == 1200);
static_assert(offsetof(BAjustables, SD) == 1600);
static_assert(offsetof(BAjustables, EqualTo) == 2000);
static_assert(offsetof(BAjustables, Adjustable) == 3200);

inline VARIANT* AdjName(BAjustables* b, int a) {  // a is 1-based
  return reinterpret_cast<VARIANT*>(reinterpret_cast<unsigned char*>(b) +
                                    offsetof(BAjustables, Name)) + (a - 1);
}
inline VARIANT* AdjEqualTo(BAjustables* b, int a) {
  return reinterpret_cast<VARIANT*>(reinterpret_cast<unsigned char*>(b) +
                                    offsetof(BAjustables, EqualTo)) + (a - 1);
}

struct BSorties {
  unsigned char Reserved[80];  // not read by the library
  VARIANT Formula[kMaxOutputs];
};
static_assert(sizeof(BSorties) == 80 + 24 * 40);
static_assert(offsetof(BSorties, Formula) == 80);

// Column-major Variant tables: cell (row r, column k) is Variant number k*rows + (r-1).
inline constexpr int kEspecesRows = kMaxSpecies;
inline constexpr int kParametresRows = kMaxParameters;
inline constexpr int kDeriveesRows = kMaxSpecies;
inline constexpr int kDeriveesColumns = kMaxSpecies + 1;  // 30 coefficients + free term

// One record of the exchange file (little-endian, 3616 bytes).
struct FileRecord {
  SmallInt Interval;
  SmallInt Padding[3];
  SmallInt NRep[kMaxOutputs];
  double Time;
  double YExp[kMaxOutputs][kMaxReplicates];
  double YCalc[kMaxOutputs];
};
static_assert(sizeof(FileRecord) == 3616);
static_assert(offsetof(FileRecord, Interval) == 0);
static_assert(offsetof(FileRecord, NRep) == 8);
static_assert(offsetof(FileRecord, Time) == 88);
static_assert(offsetof(FileRecord, YExp) == 96);
static_assert(offsetof(FileRecord, YCalc) == 3296);

// One experimental point of the point table (2612 doubles).
struct PointRecord {
  SmallInt Interval;
  double Time;
  SmallInt NRep[kMaxOutputs];
  double YExp[kMaxOutputs][kMaxReplicates];
  double YCalc[kMaxOutputs];
  double YPrev[kMaxOutputs];
  double YMean[kMaxOutputs];
  double Variance[kMaxOutputs];
  double Weight[kMaxOutputs];
  double Sens[kMaxOutputs][kMaxAdjustables];
};
static_assert(sizeof(PointRecord) == 20896);
static_assert(offsetof(PointRecord, Interval) == 0);
static_assert(offsetof(PointRecord, Time) == 8);
static_assert(offsetof(PointRecord, NRep) == 16);
static_assert(offsetof(PointRecord, YExp) == 96);
static_assert(offsetof(PointRecord, YCalc) == 3296);
static_assert(offsetof(PointRecord, YPrev) == 3616);
static_assert(offsetof(PointRecord, YMean) == 3936);
static_assert(offsetof(PointRecord, Variance) == 4256);
static_assert(offsetof(PointRecord, Weight) == 4576);
static_assert(offsetof(PointRecord, Sens) == 4896);

// The fields of a point record that a walk reads and writes on a scratch table: its head (the
// interval and the time) and its outputs (YCalc, then YPrev). Nothing else of a scratch record
// is ever read.
inline constexpr size_t kWalkedHead = offsetof(PointRecord, Time) + sizeof(double);
inline constexpr size_t kWalkedOutputsAt = offsetof(PointRecord, YCalc);
inline constexpr size_t kWalkedOutputs = offsetof(PointRecord, YMean) - offsetof(PointRecord, YCalc);
static_assert(kWalkedHead <= offsetof(PointRecord, NRep));
static_assert(offsetof(PointRecord, YPrev) == kWalkedOutputsAt + sizeof(double) * kMaxOutputs);

// The walked fields of the records [0, records) cleared: all of a scratch table that is ever
// read, so a walk never reads a field it did not write or find cleared.
inline void ClearWalked(PointRecord* points, int32_t records) {
  for (int32_t j = 0; j < records; ++j) {
    auto* record = reinterpret_cast<unsigned char*>(&points[j]);
    std::memset(record, 0, kWalkedHead);
    std::memset(record + kWalkedOutputsAt, 0, kWalkedOutputs);
  }
}

// Records are 21 KB apart, so the processor's own prefetchers never fetch the next one and a
// pass over the records would wait for memory (and for the page's translation) at each; the
// passes ask for the lines they will use this many records ahead. Asking changes no value.
inline constexpr int kRecordsAhead = 4;

// Asks for the lines of a record that a walk reads and writes: its head, and YCalc and YPrev
// of outputs [0, outputs) (at most the record's).
inline void PrefetchWalked(const PointRecord& record, int outputs) {
  __builtin_prefetch(&record.Time, 0);
  if (outputs <= 0) return;
  if (outputs > kMaxOutputs) outputs = kMaxOutputs;
  __builtin_prefetch(&record.YCalc[0], 1);
  __builtin_prefetch(&record.YCalc[outputs - 1], 1);
  __builtin_prefetch(&record.YPrev[0], 1);
  __builtin_prefetch(&record.YPrev[outputs - 1], 1);
}

// Asks for the lines of a record's sensitivity rows of outputs [0, outputs), columns first to
// last (a pass's free columns lie between them); Write: the pass writes them.
template <int Write>
inline void PrefetchSensitivities(const PointRecord& record, int outputs, int first, int last) {
  if (outputs > kMaxOutputs) outputs = kMaxOutputs;
  for (int k = 0; k < outputs; ++k) {
    __builtin_prefetch(&record.Sens[k][first], Write);
    if (last != first) __builtin_prefetch(&record.Sens[k][last], Write);
  }
}

struct PointTableTail {
  int32_t NData;
  unsigned char Scratch[324];
};
static_assert(sizeof(PointTableTail) == 328);

// The point table: output formula handles, the point records, and the tail with NData.
struct PointTable {
  compilptr Outputs[kMaxOutputs];
  PointRecord Points[kMaxPoints];
  PointTableTail Tail;
};
static_assert(sizeof(PointTable) == 20896648);
static_assert(offsetof(PointTable, Points) == 320);
static_assert(offsetof(PointTable, Tail) == 320 + 20896 * 1000);

}  // namespace tarvo
