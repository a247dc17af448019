#include "Symbolic/compiler.h"

#include <algorithm>
#include <new>

#include "Symbolic/cells.h"
#include "Symbolic/primitives.h"

namespace tarvo {

namespace {

// Operand of every slot that the compiler could not bind. A record compiled with faults is
// never evaluated by the library, but every slot 0..stop-1 still reads a real cell, so that
// releasing or evaluating it by mistake touches nothing outside the engine state.
const double kUnbound = 0.0;

constexpr int32_t kLastSlot = kMaxSlots - 1;

// State shared by one top-level Compile and every nested compilation it starts.
struct Shared {
  int16_t& faults;             // the caller's counter (saturating)
  int64_t added;               // faults added by this Compile, unsaturated
  const InlineTable* bindings;
  FormulaCells& cells;         // the cells operands are bound to
  compil* top;                 // the caller's record: never released here
  bool in_progress[kMaxAdjustables];  // adjustables whose expression is being compiled
  int32_t depth;               // nested records open above the current one
};

// Compile state of one record.
struct State {
  const Text& text;
  int32_t pos;
  int32_t count;
  Op pending;
  compil* target;
  Shared& shared;
  bool function_waiting;  // Operand stopped at a function letter that no operator took yet
};

enum class OperandKind { Bound, Function, Fault };

void AddFaults(Shared& s, int32_t n) {
  if (n <= 0) return;
  s.added += n;
  const int32_t sum = static_cast<int32_t>(s.faults) + n;
  s.faults = static_cast<int16_t>(std::min<int32_t>(sum, INT16_MAX));
}

void Fault(State& s) { AddFaults(s.shared, 1); }

// True when slot `last` exists; otherwise the formula needs more slots than a record has,
// which is a fault.
bool Room(State& s, int32_t last) {
  if (last <= kLastSlot) return true;
  Fault(s);
  return false;
}

void Clear(compil* c) {
  for (int32_t i = 0; i < kMaxSlots; ++i) {
    c->fonction[i] = Op_Load;
    c->donnee[i].cell = &kUnbound;
  }
  c->stop = 0;
}

void CompileRecord(const Text& text, compil* target, Shared& shared);

// A new nested record holding the compiled text, or nil (counted as a fault) when the
// nesting is deeper than any formula needs or memory is exhausted.
compil* CompileNested(State& s, const Text& text) {
  if (s.shared.depth >= kMaxNesting) {
    Fault(s);
    return nullptr;
  }
  compil* n = NewCompil();
  if (!n) {
    Fault(s);
    return nullptr;
  }
  s.shared.depth += 1;
  CompileRecord(text, n, s.shared);
  s.shared.depth -= 1;
  return n;
}

// The group whose `(` stands at open and whose partner is at close (length + 1 when it is
// unbalanced: the group then runs to the end of the text), compiled into a nested record.
compil* CompileGroup(State& s, int32_t open, int32_t close) {
  Text group;
  try {
    group = Copy(s.text, open + 1, close - open - 1);
  } catch (...) {  // out of memory: refuse the formula, never leave through the boundary
    Fault(s);
    return nullptr;
  }
  return CompileNested(s, group);
}

// The pending operation of slot count moves down one slot and slot count calls n; the moved
// operation reads n's result. The caller has checked that slot count + 1 exists.
void PlaceCall(State& s, compil* n) {
  compil* t = s.target;
  s.count += 1;
  t->fonction[s.count] = t->fonction[s.count - 1];
  t->fonction[s.count - 1] = Op_Call;
  t->donnee[s.count - 1].call = n;
  t->donnee[s.count].cell = &n->result;
}

void Bind(State& s, const double* cell) { s.target->donnee[s.count].cell = cell; }

// Adjustable n as an operand: its EqualTo expression compiled afresh into a nested record,
// or its plain value. An adjustable whose expression is being compiled already (a
// self-reference or a cycle) is bound to its plain value: the inlining that encloses it then
// counts the reference through CountRefs, and for the caller's own adjustable the caller
// does (as set-up does after compiling an EqualTo expression).
OperandKind Adjustable(State& s, int32_t n) {
  const double* cell = &s.shared.cells.adjustables[n - 1];
  const InlineTable* b = s.shared.bindings;
  const bool bound = b && b->text[n - 1] && b->equation[n - 1] && *b->equation[n - 1];
  if (!bound || s.shared.in_progress[n - 1]) {
    Bind(s, cell);
    return OperandKind::Bound;
  }
  if (!Room(s, s.count + 1)) return OperandKind::Fault;

  const int64_t before = s.shared.added;
  s.shared.in_progress[n - 1] = true;
  compil* expression = CompileNested(s, *b->text[n - 1]);
  s.shared.in_progress[n - 1] = false;
  if (expression) AddFaults(s.shared, CountRefs(cell, expression));

  // Only the expression's own faults refuse it. A fault counted before it (earlier in the
  // formula, where an operator fault lets the operand after it run, or already in the
  // caller's counter) refuses the formula anyway; it is no reason to strip a sound expression
  // from its adjustable.
  if (expression && s.shared.added == before) {
    PlaceCall(s, expression);
    return OperandKind::Bound;
  }
  // The expression is refused: from now on the adjustable is a plain value. Both the
  // refused copy and the record behind the cleared handle are released at once (the
  // handle's record is never the one being compiled, whose adjustable is in progress).
  Release(expression);
  compil* old = *b->equation[n - 1];
  *b->equation[n - 1] = nullptr;
  if (old != s.shared.top) Release(old);
  Bind(s, cell);
  return OperandKind::Fault;
}

// Fills the operand of slot count from the token at pos.
OperandKind Operand(State& s) {
  const char16_t c = At(s.text, s.pos);
  const int32_t n = IndexOf(At(s.text, s.pos + 1));
  const double* cell = nullptr;
  switch (c) {
    case u'(': {
      if (!Room(s, s.count + 1)) return OperandKind::Fault;
      const int32_t close = MatchParen(s.text, s.pos);
      compil* group = CompileGroup(s, s.pos, close);
      s.pos = close + 1;
      if (!group) return OperandKind::Fault;
      PlaceCall(s, group);
      return OperandKind::Bound;
    }
    case u'A':
      if (n >= 1 && n <= kMaxAdjustables) {
        s.pos += 2;
        return Adjustable(s, n);
      }
      break;
    case u'C':
      if (n >= 1 && n <= kMaxConstants) cell = &s.shared.cells.constants.value[n - 1];
      break;
    case u'F':
      if (n >= 1 && n <= kMaxSpecies) cell = &s.shared.cells.species[n - 1];
      break;
    case u'P':
      if (n >= 1 && n <= kMaxParameters) cell = &s.shared.cells.parameters[n - 1];
      break;
    case u'T':
      cell = &s.shared.cells.time;
      break;
    case u'E':
    case u'e':
    case u'L':
    case u'l':
      return OperandKind::Function;  // Operator takes the call on its next turn
    default:
      Fault(s);
      return OperandKind::Fault;
  }
  // A kind letter whose index lies outside its vector: refused, never bound.
  s.pos += 2;
  if (!cell) {
    Fault(s);
    return OperandKind::Fault;
  }
  Bind(s, cell);
  return OperandKind::Bound;
}

OperandKind RunOperand(State& s) {
  const OperandKind kind = Operand(s);
  s.function_waiting = kind == OperandKind::Function;
  return kind;
}

// EX( or LN( at pos, in place of the operand of slot count - 1. Returns false: no operand
// follows.
bool FunctionCall(State& s, Op function) {
  const int32_t close = MatchParen(s.text, s.pos + 2);
  if (!Room(s, s.count + 1)) return false;
  compil* argument = CompileGroup(s, s.pos + 2, close);
  s.pos = close + 1;
  if (!argument) return false;
  compil* t = s.target;
  t->fonction[s.count + 1] = t->fonction[s.count - 1];
  t->fonction[s.count - 1] = Op_Call;
  t->donnee[s.count - 1].call = argument;
  t->fonction[s.count] = function;
  t->donnee[s.count].cell = &argument->result;
  t->donnee[s.count + 1].cell = &t->function_value;
  s.count += 1;
  return false;
}

bool UpperIs(char16_t c, char16_t upper) {
  return c == upper || (c >= u'a' && c <= u'z' && c - (u'a' - u'A') == upper);
}

// Reads the operator at pos into a new slot. Returns true when an operand follows.
bool Operator(State& s) {
  if (!Room(s, s.count + 1)) return false;
  s.count += 1;
  compil* t = s.target;
  const char16_t c = At(s.text, s.pos);
  const bool function_waiting = s.function_waiting;
  s.function_waiting = false;
  switch (c) {
    case u'+': t->fonction[s.count] = Op_Add; break;
    case u'-': t->fonction[s.count] = Op_Sub; break;
    case u'*': t->fonction[s.count] = Op_Mul; break;
    case u'/': t->fonction[s.count] = Op_Div; break;
    case u'^': {
      s.pending = t->fonction[s.count - 1];
      t->fonction[s.count - 1] = Op_Load;
      t->fonction[s.count] = Op_Pow;
      s.pos += 1;
      // A function call written straight after the power sign would leave the exponent
      // unbound: it must be bracketed.
      if (Operand(s) == OperandKind::Function) Fault(s);
      if (!Room(s, s.count + 1)) return false;
      s.count += 1;
      t->fonction[s.count] = s.pending;
      t->donnee[s.count].cell = &t->function_value;
      return false;
    }
    case u'E':
    case u'e':
    case u'L':
    case u'l': {
      // The call takes the place of the operand that Operand left empty at this letter. A
      // function written straight after an operand (a missing operator) has no such place:
      // it would overwrite that operand, so it is refused.
      const bool exp = c == u'E' || c == u'e';
      if (function_waiting && UpperIs(At(s.text, s.pos + 1), exp ? u'X' : u'N') &&
          At(s.text, s.pos + 2) == u'(')
        return FunctionCall(s, exp ? Op_Exp : Op_Ln);
      Fault(s);
      return true;
    }
    default:
      Fault(s);
      return true;
  }
  s.pos += 1;
  return true;
}

void CompileRecord(const Text& text, compil* target, Shared& shared) {
  Clear(target);
  State s{text, 1, 0, Op_First, target, shared, false};
  const int32_t length = Length(text);
  if (length == 0) {
    Fault(s);
    target->stop = 0;
    return;
  }
  const char16_t c = At(text, s.pos);
  s.pos += 1;
  bool operand_follows = true;
  if (c == u'(') {
    const int32_t close = MatchParen(text, s.pos - 1);
    compil* group = CompileGroup(s, s.pos - 1, close);
    if (group) {
      target->fonction[0] = Op_Call;
      target->donnee[0].call = group;
      target->fonction[1] = Op_First;
      target->donnee[1].cell = &group->result;
    }
    s.count = 1;
    s.pos = close + 1;
    operand_follows = false;
  } else if (c == u'+') {
    target->fonction[0] = Op_First;
  } else if (c == u'-') {
    target->fonction[0] = Op_FirstNeg;
  } else {
    target->fonction[0] = Op_First;
    s.pos -= 1;
  }
  if (operand_follows) RunOperand(s);
  // A single character left at the end is never read.
  while (s.pos < length && shared.faults == 0) {
    if (Operator(s)) RunOperand(s);
  }
  // A function letter that ends the text leaves its slot without an operand.
  if (s.function_waiting && shared.faults == 0) Fault(s);
  target->stop = s.count + 1;
}

// Frees the nested records of whatever the caller's record held before.
void ReleaseNested(compil* c) {
  for (int32_t i = 0; i < c->stop && i < kMaxSlots; ++i) {
    if (c->fonction[i] == Op_Call) Release(c->donnee[i].call);
  }
  c->stop = 0;
}

}  // namespace

void Compile(FormulaCells& cells, const Text& text, compilptr target, int16_t& faults,
             const InlineTable* bindings) {
  Shared shared{faults, 0, bindings, cells, target, {}, 0};
  if (!target) {
    AddFaults(shared, 1);
    return;
  }
  ReleaseNested(target);
  // The caller's own adjustable, when the target is its EqualTo record, is in progress from
  // the start: its references bind to the plain value and the caller counts them.
  if (bindings) {
    for (int32_t a = 0; a < kMaxAdjustables; ++a)
      if (bindings->equation[a] && *bindings->equation[a] == target) shared.in_progress[a] = true;
  }
  CompileRecord(text, target, shared);
}

bool ReadsTimeOrSpecies(const compil* c, const FormulaCells& cells) {
  if (!c) return false;
  const double* first = cells.species;
  const double* last = cells.species + kMaxSpecies;
  for (int32_t k = 0; k < c->stop && k < kMaxSlots; ++k) {
    if (c->fonction[k] == Op_Call) {
      if (ReadsTimeOrSpecies(c->donnee[k].call, cells)) return true;
      continue;
    }
    const double* cell = c->donnee[k].cell;
    if (cell == &cells.time || (cell >= first && cell < last)) return true;
  }
  return false;
}

void MarkSpeciesRead(const compil* c, const FormulaCells& cells, bool read[kMaxSpecies]) {
  if (!c) return;
  for (int32_t k = 0; k < c->stop && k < kMaxSlots; ++k) {
    if (c->fonction[k] == Op_Call) {
      MarkSpeciesRead(c->donnee[k].call, cells, read);
      continue;
    }
    const double* cell = c->donnee[k].cell;
    if (cell >= cells.species && cell < cells.species + kMaxSpecies) read[cell - cells.species] = true;
  }
}

}  // namespace tarvo
