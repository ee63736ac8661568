// Operation sequences on a handful of CcString objects that share blocks, each step checked
// against a std::string model, the block counts and the heap balance. The unit tests drive it
// from a seeded generator, the fuzz target from its input.
//
// Steps: construct (empty, null, text), copy, release, Assign and Append of texts (random, null,
// inside another string or the string itself), Append of strings (itself included), a producer
// filling an open buffer then closing it (measured or counted), and CloseBuffer alone. Now and
// then the heap refuses the step's first request; the string must then stand as the failure
// rules say.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "support/cc_exception_memory.h"
#include "support/cc_string.h"
#include "tests/support/test_heap.h"

namespace cc_string_model {

constexpr int kSlots = 6;
// Appends that would grow a string past this are turned into an Assign of a short text, which
// keeps a step cheap while still crossing every capacity class.
constexpr size_t kMaxLength = 1200;

// `Choose` answers a number below its argument (which is at least 1).
template <typename Choose>
class Driver {
 public:
  explicit Driver(Choose& choose) : choose(choose), emptyText(CcString().Text()) {}
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;

  // One random step, then the checks; an empty answer means all is well.
  std::string Step() {
    std::string fault = RunStep();
    if (fault.empty()) fault = Check();
    return fault.empty() ? fault : operation + ": " + fault;
  }

  // Destroys every string; then every block that was handed out must be back.
  std::string ReleaseAll() {
    for (auto& s : strings) s.reset();
    if (Outstanding() != 0) return "blocks still held after every string died";
    return std::string();
  }

 private:
  uint32_t Below(uint32_t n) { return choose(n); }
  bool OneIn(uint32_t n) { return Below(n) == 0; }

  int64_t Outstanding() const {
    return static_cast<int64_t>(probe.Requests()) - probe.Refused() - probe.Releases();
  }

  uint32_t TextLength() {
    const uint32_t band = Below(10);
    if (band == 0) return 0;
    if (band <= 5) return Below(8);
    if (band <= 8) return Below(140);
    return Below(600);
  }

  char RandomByte(bool nulAllowed) {
    const uint32_t kind = Below(16);
    if (kind < 10) return static_cast<char>('a' + Below(26));
    if (kind < 12) return '\\';
    if (kind < 15 || !nulAllowed) return static_cast<char>(0x80 + Below(128));
    return '\0';
  }

  // A NUL-terminated text for the text forms, with the model of what they take from it.
  struct Source {
    const char* text = nullptr;
    std::string taken;  // up to the first NUL
    std::string what;
  };

  Source PickSource(int self) {
    Source source;
    const uint32_t kind = Below(8);
    if (kind == 0) {
      source.what = "null";
      return source;
    }
    if (kind <= 2) {
      const int other = static_cast<int>(Below(kSlots));
      if (strings[other]) {
        const std::string& model = models[other];
        const size_t offset = Below(static_cast<uint32_t>(model.size()) + 1);
        source.text = strings[other]->Text() + offset;
        source.taken = std::string(model.c_str() + offset);
        source.what = (other == self ? "itself+" : "slot " + std::to_string(other) + "+") +
                      std::to_string(offset);
        return source;
      }
    }
    scratch.clear();
    const uint32_t length = TextLength();
    for (uint32_t i = 0; i < length; ++i) scratch.push_back(RandomByte(OneIn(32)));
    source.text = scratch.c_str();
    source.taken = std::string(scratch.c_str());
    source.what = "text of " + std::to_string(source.taken.size());
    return source;
  }

  void ArmRefusal() {
    if (OneIn(12)) probe.Refuse(1);
    refusedBefore = probe.Refused();
  }

  // Disarms; answers whether a request was refused during the step.
  bool Refused() {
    const bool refused = probe.Refused() != refusedBefore;
    probe.Refuse(1, 0);
    return refused;
  }

  template <typename Operation>
  bool Throws(Operation op) {
    try {
      op();
    } catch (const CcExceptionMemory&) {
      return true;
    }
    return false;
  }

  std::string Outcome(bool threw) {
    const bool refused = Refused();
    if (threw != refused) return threw ? "threw without a refused request" : "refusal ignored";
    return std::string();
  }

  std::string MustBeOnEmptyBlock(int slot) {
    if (strings[slot]->Text() != emptyText) return "not on the shared empty block after failure";
    return std::string();
  }

  std::string RunStep() {
    const int slot = static_cast<int>(Below(kSlots));
    const uint32_t kind = Below(16);
    operation = "slot " + std::to_string(slot) + " ";
    if (kind < 2) return Construct(slot);
    if (kind < 5) return Copy(slot);
    if (kind < 6) {
      operation += "release";
      strings[slot].reset();
      return std::string();
    }
    if (!strings[slot]) {
      strings[slot].emplace();
      models[slot].clear();
    }
    if (kind < 8) return Assign(slot);
    if (kind < 10) return AppendText(slot);
    if (kind < 12) return AppendString(slot);
    if (kind < 15) return FillBuffer(slot);
    return CloseOnly(slot);
  }

  std::string Construct(int slot) {
    const Source source = PickSource(slot);
    // A text inside the slot's own string would die with it: copy it out first.
    const std::string held = source.text ? std::string(source.text) : std::string();
    const char* text = source.text ? held.c_str() : nullptr;
    operation += "construct from " + source.what;
    strings[slot].reset();
    ArmRefusal();
    const bool threw = Throws([&] { strings[slot].emplace(text); });
    if (std::string fault = Outcome(threw); !fault.empty()) return fault;
    if (threw) {
      if (strings[slot]) return "constructed although it threw";
      return std::string();
    }
    models[slot] = source.taken;
    return std::string();
  }

  std::string Copy(int slot) {
    const int from = static_cast<int>(Below(kSlots));
    operation += "copy of slot " + std::to_string(from);
    if (from == slot || !strings[from]) {
      strings[slot].reset();
      strings[slot].emplace();
      models[slot].clear();
      return std::string();
    }
    strings[slot].reset();
    ArmRefusal();
    const bool threw = Throws([&] { strings[slot].emplace(*strings[from]); });
    const bool refused = Refused();
    if (threw || refused) return "a copy asked the heap for a block";
    models[slot] = models[from];
    if (strings[slot]->Text() != strings[from]->Text()) return "a copy did not share the block";
    return std::string();
  }

  std::string Assign(int slot) {
    const Source source = PickSource(slot);
    operation += "assign " + source.what;
    ArmRefusal();
    const bool threw = Throws([&] { strings[slot]->Assign(source.text); });
    if (std::string fault = Outcome(threw); !fault.empty()) return fault;
    if (threw) {
      models[slot].clear();
      return MustBeOnEmptyBlock(slot);
    }
    models[slot] = source.taken;
    return std::string();
  }

  std::string AppendText(int slot) {
    const Source source = PickSource(slot);
    operation += "append " + source.what;
    if (models[slot].size() + source.taken.size() > kMaxLength) return ShortAssign(slot);
    ArmRefusal();
    const bool threw = Throws([&] { strings[slot]->Append(source.text); });
    if (std::string fault = Outcome(threw); !fault.empty()) return fault;
    if (!threw) models[slot] += source.taken;
    return std::string();
  }

  std::string AppendString(int slot) {
    const int from = static_cast<int>(Below(kSlots));
    operation += "append string of slot " + std::to_string(from);
    if (!strings[from]) return std::string();
    if (models[slot].size() + models[from].size() > kMaxLength) return ShortAssign(slot);
    const std::string tail = models[from];  // the slot may be its own source
    ArmRefusal();
    const bool threw = Throws([&] { strings[slot]->Append(*strings[from]); });
    if (std::string fault = Outcome(threw); !fault.empty()) return fault;
    if (!threw) models[slot] += tail;
    return std::string();
  }

  std::string ShortAssign(int slot) {
    operation += " (too long: assign)";
    strings[slot]->Assign("s");
    models[slot] = "s";
    return std::string();
  }

  // A producer asks for `n` bytes, writes some of them (NULs too) and closes the buffer.
  std::string FillBuffer(int slot) {
    CcString& s = *strings[slot];
    const std::string before = models[slot];
    const size_t length = before.size();
    uint32_t n = TextLength();
    if (n > kMaxLength) n = kMaxLength;
    const CcStringData* oldHeader = CcStringData::Of(s.Text());
    const bool fresh = oldHeader->refs > 1 || static_cast<int32_t>(n) > oldHeader->capacity;
    const char* oldText = s.Text();
    operation += "open " + std::to_string(n);

    ArmRefusal();
    char* chars = nullptr;
    const bool threw = Throws([&] { chars = s.OpenBuffer(static_cast<int32_t>(n)); });
    if (std::string fault = Outcome(threw); !fault.empty()) return fault;
    if (threw) return std::string();
    if ((chars != oldText) != fresh) return fresh ? "kept a block it must copy" : "copied";
    if (chars != s.Text()) return "the buffer is not the string's characters";
    if (static_cast<size_t>(s.Length()) != length || std::memcmp(chars, before.data(), length) ||
        chars[length] != '\0')
      return "opening changed the text";
    const CcStringData* header = CcStringData::Of(chars);
    if (header->refs > 1 || (chars != emptyText && header->capacity < static_cast<int32_t>(n)))
      return "the buffer is shared or too small";

    // What the block holds: -1 for bytes nobody defined.
    const size_t top = length > n ? length : n;
    std::vector<int> held(top + 1, -1);
    for (size_t i = 0; i < length; ++i) held[i] = static_cast<unsigned char>(before[i]);
    held[length] = 0;
    if (fresh) held[top] = 0;

    const uint32_t written = Below(n + 1);
    const bool withNuls = OneIn(4);
    for (uint32_t i = 0; i < written; ++i) {
      chars[i] = RandomByte(withNuls);
      held[i] = static_cast<unsigned char>(chars[i]);
    }
    size_t defined = 0;  // bytes [0, defined) are known
    while (defined < held.size() && held[defined] != -1) ++defined;

    if (OneIn(2)) {
      // Measured: make sure a NUL comes before any unknown byte, as a producer would.
      size_t end = 0;
      while (end < defined && held[end] != 0) ++end;
      if (end == defined) {
        const size_t at = written < n ? written : n - 1;  // n >= 1 here: held[0..length] is known
        chars[at] = '\0';
        held[at] = 0;
        end = 0;
        while (held[end] != 0) ++end;
      }
      operation += ", write " + std::to_string(written) + ", close -1";
      s.CloseBuffer(-1);
      models[slot] = Bytes(held, end);
    } else {
      const size_t most = defined < top ? defined : top;
      const uint32_t count = Below(static_cast<uint32_t>(most) + 1);
      operation += ", write " + std::to_string(written) + ", close " + std::to_string(count);
      s.CloseBuffer(static_cast<int32_t>(count));
      models[slot] = Bytes(held, count);
    }
    return std::string();
  }

  static std::string Bytes(const std::vector<int>& held, size_t count) {
    std::string bytes;
    for (size_t i = 0; i < count; ++i) bytes.push_back(static_cast<char>(held[i]));
    return bytes;
  }

  // CloseBuffer with no producer: cuts the text, or measures it to its first NUL.
  std::string CloseOnly(int slot) {
    const std::string& model = models[slot];
    const bool measure = OneIn(2);
    const int32_t count = measure ? -1 : static_cast<int32_t>(Below(model.size() + 1));
    operation += "close " + std::to_string(count);
    ArmRefusal();
    const bool threw = Throws([&] { strings[slot]->CloseBuffer(count); });
    if (std::string fault = Outcome(threw); !fault.empty()) return fault;
    if (threw) {
      models[slot].clear();
      return MustBeOnEmptyBlock(slot);
    }
    models[slot] = measure ? std::string(model.c_str()) : model.substr(0, count);
    return std::string();
  }

  std::string Check() const {
    const char* blocks[kSlots];  // distinct heap blocks in use, and their owners
    int32_t owners[kSlots];
    int distinct = 0;
    for (int i = 0; i < kSlots; ++i) {
      if (!strings[i]) continue;
      const CcString& s = *strings[i];
      const std::string& model = models[i];
      const std::string where = "slot " + std::to_string(i) + ": ";
      if (s.Length() != static_cast<int32_t>(model.size()))
        return where + "length " + std::to_string(s.Length()) + ", model " +
               std::to_string(model.size());
      if (std::memcmp(s.Text(), model.data(), model.size()) != 0) return where + "text differs";
      if (s.Text()[model.size()] != '\0') return where + "no NUL at the length";
      const CcStringData* header = CcStringData::Of(s.Text());
      if (s.Text() == emptyText) {
        if (header->refs != -1 || header->capacity != 0)
          return where + "the shared empty block changed";
        continue;
      }
      const int32_t capacity = header->capacity;
      if (header->length > capacity) return where + "length beyond capacity";
      if (capacity != 64 && capacity != 128 && capacity != 256 && capacity < 512)
        return where + "capacity " + std::to_string(capacity) + " is no class";
      int b = 0;
      while (b < distinct && blocks[b] != s.Text()) ++b;
      if (b == distinct) {
        blocks[distinct] = s.Text();
        owners[distinct++] = 0;
      }
      ++owners[b];
    }
    for (int b = 0; b < distinct; ++b) {
      const CcStringData* header = CcStringData::Of(blocks[b]);
      if (header->refs != owners[b])
        return "refs " + std::to_string(header->refs) + " for " + std::to_string(owners[b]) +
               " owners";
    }
    if (Outstanding() != distinct)
      return std::to_string(Outstanding()) + " blocks held for " + std::to_string(distinct) +
             " in use";
    return std::string();
  }

  Choose& choose;
  ScopedHeapProbe probe;  // declared before the strings: outlives them
  const char* const emptyText;
  std::optional<CcString> strings[kSlots];
  std::string models[kSlots];
  std::string scratch;
  std::string operation;
  uint32_t refusedBefore = 0;
};

}  // namespace cc_string_model
