// Replays an operation sequence drawn from the input against both database
// files at once, each written by two objects taking turns (files in memory),
// and checks every reopening against an in-memory model: puts, deletes,
// document adds, re-saves and deletes, compactions, flushes and reopenings.
// Any difference, and any error but the ones an operation documents, aborts.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "quorvel/codepage.h"
#include "quorvel/error.h"
#include "quorvel/kxdocsdb.h"
#include "quorvel/kxdocstore.h"
#include "quorvel/kxkvdb.h"
#include "stores/doc_rules.h"
#include "stores/store_model.h"
#include "testing/memory_file_system.h"

namespace {

using quorvel::FromUtf8;
using quorvel::Ref;
using quorvel::String;
using quorvel::testing::Doc;
using quorvel::testing::OrderedModel;

void Check(bool ok) {
  if (!ok) std::abort();
}

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return at_ >= size_; }
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  // A text of up to 127 bytes of the input, or 64 copies of one, every
  // byte one character of the code page.
  std::u16string Text() {
    const uint8_t n = Byte();
    const size_t take =
        std::min<size_t>(n & 0x7F, size_ - std::min(at_, size_));
    std::u16string piece;
    for (size_t i = 0; i < take; ++i)
      piece += quorvel::UnitFromAnsi(data_[at_ + i]);
    at_ += take;
    if ((n & 0x80) == 0) return piece;
    std::u16string out;
    for (int i = 0; i < 64; ++i) out += piece;
    return out;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

template <class Store, class Model>
void Compare(quorvel::internal::MemoryFileSystem& fs, const char16_t* path,
             const Model& model) {
  Ref<Store> fresh = Store::Create(fs);
  fresh->OpenDB(path);
  const std::string diff = quorvel::testing::Diff(*fresh, model);
  if (!diff.empty()) std::fprintf(stderr, "%s\n", diff.c_str());
  Check(diff.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quorvel::internal::MemoryFileSystem fs;
  Input in(data, size);
  quorvel::testing::RandomText r(size);
  OrderedModel<std::u16string> kv_model;
  OrderedModel<Doc> docs_model;
  Ref<quorvel::KxKVDB> kv[2] = {quorvel::KxKVDB::Create(fs),
                                quorvel::KxKVDB::Create(fs)};
  Ref<quorvel::KxDocsDB> docs[2] = {quorvel::KxDocsDB::Create(fs),
                                    quorvel::KxDocsDB::Create(fs)};
  for (int i = 0; i < 2; ++i) {
    kv[i]->OpenDB(u"kv");
    docs[i]->OpenDB(u"docs");
  }
  int steps = 0;
  while (!in.empty() && ++steps < 400) {
    const uint8_t op = in.Byte();
    quorvel::KxKVDB& k = *kv[op & 1];
    quorvel::KxDocsDB& d = *docs[op & 1];
    switch ((op >> 1) % 14) {
      case 0:
      case 1: {
        const std::u16string key =
            u"k" + FromUtf8(std::to_string(in.Byte() % 24));
        const std::u16string value = in.Text();
        k.PutValue(key, value);
        kv_model.Put(key, value);
        break;
      }
      case 2: {
        const std::u16string key =
            u"k" + FromUtf8(std::to_string(in.Byte() % 24));
        if (!k.HasKey(key)) break;
        k.DeleteKey(key);
        kv_model.Erase(key);
        break;
      }
      case 3:
        if (in.Byte() & 1) {
          k.Compact();
        } else {
          k.Compact(true);
          k.OpenDB(u"kv");
        }
        break;
      case 4:
        if (in.Byte() & 1) {
          k.FlushData();
        } else {
          k.OpenDB(u"kv");
        }
        Compare<quorvel::KxKVDB>(fs, u"kv", kv_model);
        break;
      case 5:
      case 6: {
        const uint8_t how = in.Byte();
        Ref<quorvel::KxDocRec> rec;
        if (how & 1) {
          rec = d.AddDoc();
          Check(docs_model.Find(std::u16string(rec->DocID().view())) ==
                nullptr);
        } else {
          // Given identifiers, some the generator would make next.
          const String id =
              (how & 2) ? quorvel::internal::GeneratedDocId(d.next_id() +
                                                            (how >> 2) % 3)
                        : String(u"g" + FromUtf8(std::to_string(how % 16)));
          try {
            rec = d.AddDoc(id);
          } catch (const quorvel::Error& e) {
            Check(e.number() == quorvel::kErrGeneralFailure);
            break;
          }
        }
        quorvel::testing::RandomFields(r, rec->fields());
        rec->Save();
        docs_model.Put(std::u16string(rec->DocID().view()),
                       quorvel::testing::Render(rec->fields()));
        break;
      }
      case 7:
      case 8: {
        if (docs_model.size() == 0) break;
        const std::u16string id =
            docs_model.keys()[in.Byte() % docs_model.size()];
        if (!d.HasDoc(id)) break;
        if (op & 0x80) {
          d.Delete(id);
          docs_model.Erase(id);
          break;
        }
        Ref<quorvel::KxDocRec> rec = d.GetDoc(id);
        Check(rec.get() != nullptr);
        rec->Clear();
        quorvel::testing::RandomFields(r, rec->fields());
        rec->Save();
        docs_model.Put(id, quorvel::testing::Render(rec->fields()));
        break;
      }
      case 9:
        if (in.Byte() & 1) {
          d.Compact();
        } else {
          d.Compact(true);
          d.OpenDB(u"docs");
        }
        break;
      case 10:
        if (in.Byte() & 1) {
          d.FlushData();
        } else {
          d.OpenDB(u"docs");
        }
        Compare<quorvel::KxDocsDB>(fs, u"docs", docs_model);
        break;
      default:
        break;
    }
  }
  Compare<quorvel::KxKVDB>(fs, u"kv", kv_model);
  Compare<quorvel::KxDocsDB>(fs, u"docs", docs_model);
  return 0;
}
