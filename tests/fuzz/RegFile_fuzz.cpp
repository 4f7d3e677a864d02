// The registry file: parse -> write -> parse keeps every value, and a sequence of SetValue,
// DeleteKey and CreateKey changes exactly what it names, in memory and in the file written.
#include <cctype>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/Exception.h"
#include "config/RegFile.h"
#include "fuzz/FuzzTarget.h"

namespace duz {
namespace {

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

bool SameValue(const TRegValue* a, const TRegValue* b) {
  if (!a || !b) return a == b;
  return SameText(a->Name, b->Name) && a->Type == b->Type && a->Data == b->Data && a->Quoted == b->Quoted;
}

// The keys and names the checks look at: a few of our own and those the file mentions.
struct TPool {
  std::vector<std::string> Keys{"HKEY_LOCAL_MACHINE\\SOFTWARE\\Quellix",
                                "hkey_local_machine\\software\\quellix\\Duzezevovivo", "X", ""};
  std::vector<std::string> Names{"", "config", "CONFIG", "a"};

  void Collect(const std::string& text) {
    for (size_t open = 0;
         (open = text.find_first_of("[\"", open)) != std::string::npos && Keys.size() + Names.size() < 12;) {
      const char close = text[open] == '[' ? ']' : '"';
      const size_t end = text.find(close, open + 1);
      if (end == std::string::npos) break;
      (close == ']' ? Keys : Names).push_back(text.substr(open + 1, end - open - 1));
      open = end + 1;
    }
  }
};

using TSnapshot = std::vector<std::optional<TRegValue>>;

TSnapshot Snapshot(const TRegFile& file, const TPool& pool) {
  TSnapshot values;
  for (const auto& key : pool.Keys)
    for (const auto& name : pool.Names) {
      const TRegValue* value = file.Find(key, name);
      values.push_back(value ? std::optional(*value) : std::nullopt);
    }
  return values;
}

const TRegValue* Get(const std::optional<TRegValue>& value) { return value ? &*value : nullptr; }

// What is in memory is what a reader of the written file finds.
void CheckWrittenFile(const TRegFile& file, const TPool& pool) {
  const std::string text = file.Serialize();
  const TRegFile reread = TRegFile::Parse(text);
  const TSnapshot inMemory = Snapshot(file, pool), onDisk = Snapshot(reread, pool);
  for (size_t i = 0; i < inMemory.size(); ++i) FUZZ_CHECK(SameValue(Get(inMemory[i]), Get(onDisk[i])));
  for (const auto& key : pool.Keys) FUZZ_CHECK(file.HasKey(key) == reread.HasKey(key));
  FUZZ_CHECK(reread.Serialize() == text);
}

// Only the pairs an operation names may change.
void CheckOthersKept(const TSnapshot& before, const TSnapshot& after, const TPool& pool,
                     const std::function<bool(const std::string&, const std::string&)>& named) {
  size_t i = 0;
  for (const auto& key : pool.Keys)
    for (const auto& name : pool.Names) {
      if (!named(key, name)) FUZZ_CHECK(SameValue(Get(before[i]), Get(after[i])));
      ++i;
    }
}

bool IsBelow(const std::string& key, const std::string& path) {
  return key.size() > path.size() + 1 && SameText(key.substr(0, path.size()), path) &&
         key[path.size()] == '\\';
}

// Backslashes are common here: strings are taken by length, not up to an escape.
std::string Consume(FuzzedDataProvider& input, size_t maxLength) {
  return input.ConsumeBytesAsString(input.ConsumeIntegralInRange<size_t>(0, maxLength));
}

TRegValue MakeValue(FuzzedDataProvider& input, const std::string& name) {
  switch (input.ConsumeIntegralInRange(0, 2)) {
    case 0:
      return TRegValue::Text(name, Consume(input, 40));
    case 1:
      return TRegValue::Dword(name, input.ConsumeIntegral<uint32_t>());
    default: {
      TRegValue value;
      value.Name = name;
      value.Type = input.ConsumeIntegralInRange<uint32_t>(0, 12);
      value.Data = Consume(input, 90);
      return value;
    }
  }
}

void Run(FuzzedDataProvider& input) {
  const std::string text = Consume(input, 1024);
  TPool pool;
  pool.Collect(text);
  pool.Keys.push_back(Consume(input, 12));
  pool.Names.push_back(Consume(input, 12));

  TRegFile file = TRegFile::Parse(text);
  CheckWrittenFile(file, pool);
  for (int operations = 0; operations < 8 && input.remaining_bytes() > 0; ++operations) {
    const std::string key = pool.Keys[input.ConsumeIntegralInRange<size_t>(0, pool.Keys.size() - 1)];
    const std::string name = pool.Names[input.ConsumeIntegralInRange<size_t>(0, pool.Names.size() - 1)];
    const TSnapshot before = Snapshot(file, pool);
    const std::string textBefore = file.Serialize();
    try {
      switch (input.ConsumeIntegralInRange(0, 2)) {
        case 0: {
          const TRegValue value = MakeValue(input, name);
          file.SetValue(key, value);
          FUZZ_CHECK(SameValue(file.Find(key, name), &value));
          const std::string once = file.Serialize();
          file.SetValue(key, value);
          FUZZ_CHECK(file.Serialize() == once);  // the same write again changes nothing
          CheckOthersKept(before, Snapshot(file, pool), pool,
                          [&](const std::string& k, const std::string& n) {
                            return SameText(k, key) && SameText(n, name);
                          });
          break;
        }
        case 1:
          file.DeleteKey(key);
          FUZZ_CHECK(!file.HasKey(key));
          CheckOthersKept(before, Snapshot(file, pool), pool, [&](const std::string& k, const std::string&) {
            return SameText(k, key) || IsBelow(k, key);
          });
          break;
        default:
          file.CreateKey(key);
          FUZZ_CHECK(file.HasKey(key));
          CheckOthersKept(before, Snapshot(file, pool), pool,
                          [](const std::string&, const std::string&) { return false; });
          break;
      }
    } catch (const Exception&) {
      FUZZ_CHECK(file.Serialize() == textBefore);  // a refused change changes nothing
    }
    CheckWrittenFile(file, pool);
  }
}

}  // namespace
}  // namespace duz

void duz::fuzz::FuzzOneInput(FuzzedDataProvider& input) { duz::Run(input); }
