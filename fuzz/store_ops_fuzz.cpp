// Operations from the input on both database files, two objects each
// taking turns; every reopening must show the model.
#include <type_traits>

#include "fuzz_util.h"
#include "quorvel/codepage.h"
#include "quorvel/kxdocsdb.h"
#include "quorvel/kxdocstore.h"
#include "quorvel/kxkvdb.h"
#include "stores/doc_rules.h"
#include "stores/store_model.h"
#include "testing/memory_file_system.h"

using namespace quorvel;
using namespace quorvel::fuzz;
namespace qt = quorvel::testing;
using qt::OrderedModel;

namespace {

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return at_ >= size_; }
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  // Up to 127 bytes of the input, or 64 copies of them, each byte one
  // character of the code page.
  std::u16string Text() {
    const uint8_t n = Byte();
    const size_t take = std::min<size_t>(n & 0x7F, size_ - at_);
    std::u16string piece;
    for (size_t i = 0; i < take; ++i) piece += UnitFromAnsi(data_[at_ + i]);
    at_ += take;
    std::u16string out = piece;
    for (int i = 1; i < ((n & 0x80) ? 64 : 1); ++i) out += piece;
    return out;
  }
  std::u16string Key() { return u"k" + FromUtf8(std::to_string(Byte() % 24)); }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// A fresh object on the file shows the model.
template <class Store>
void Reopened(internal::MemoryFileSystem& fs, const char16_t* path,
              const OrderedModel<std::u16string>& model) {
  Ref<Store> fresh = Store::Create(fs);
  fresh->OpenDB(path);
  Check(qt::Diff(*fresh, model).empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  internal::MemoryFileSystem fs;
  Input in(data, size);
  qt::RandomText r(size);
  OrderedModel<std::u16string> kv_model, docs_model;
  Ref<KxKVDB> kv[2] = {KxKVDB::Create(fs), KxKVDB::Create(fs)};
  Ref<KxDocsDB> docs[2] = {KxDocsDB::Create(fs), KxDocsDB::Create(fs)};
  for (int i = 0; i < 2; ++i) {
    kv[i]->OpenDB(u"kv");
    docs[i]->OpenDB(u"docs");
  }
  const auto save = [&](KxDocRec& rec, const std::u16string& id) {
    qt::RandomFields(r, rec.fields());
    rec.Save();
    docs_model.Put(id, qt::Render(rec.fields()));
  };
  // Compacts in place, or to a copy that is then reopened.
  const auto compact = [&](auto& store, const char16_t* path) {
    if (in.Byte() & 1) {
      store.Compact();
    } else {
      store.Compact(true);
      store.OpenDB(path);
    }
  };
  const auto flush = [&](auto& store, const char16_t* path, const auto& model) {
    if (in.Byte() & 1) {
      store.FlushData();
    } else {
      store.OpenDB(path);
    }
    Reopened<std::remove_reference_t<decltype(store)>>(fs, path, model);
  };
  for (int steps = 0; !in.empty() && ++steps < 400;) {
    const uint8_t op = in.Byte();
    KxKVDB& k = *kv[op & 1];
    KxDocsDB& d = *docs[op & 1];
    switch ((op >> 1) % 14) {
      case 0:
      case 1: {
        const std::u16string key = in.Key(), value = in.Text();
        k.PutValue(key, value);
        kv_model.Put(key, value);
        break;
      }
      case 2: {
        const std::u16string key = in.Key();
        if (!k.HasKey(key)) break;
        k.DeleteKey(key);
        kv_model.Erase(key);
        break;
      }
      case 3:
        compact(k, u"kv");
        break;
      case 4:
        flush(k, u"kv", kv_model);
        break;
      case 5:
      case 6: {
        const uint8_t how = in.Byte();
        Ref<KxDocRec> rec;
        if (how & 1) {
          rec = d.AddDoc();
          Check(docs_model.Find(rec->DocID().str()) == nullptr);
        } else {
          // Given ids, some the generator would make next.
          const String id =
              (how & 2) ? internal::GeneratedDocId(d.next_id() + (how >> 2) % 3)
                        : String(u"g" + FromUtf8(std::to_string(how % 16)));
          if (ErrorOf([&] { rec = d.AddDoc(id); }, {kErrGeneralFailure}) != 0)
            break;
        }
        save(*rec, rec->DocID().str());
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
        } else {
          Ref<KxDocRec> rec = d.GetDoc(id);
          Check(rec.get() != nullptr);
          rec->Clear();
          save(*rec, id);
        }
        break;
      }
      case 9:
        compact(d, u"docs");
        break;
      case 10:
        flush(d, u"docs", docs_model);
        break;
      default:
        break;
    }
  }
  Reopened<KxKVDB>(fs, u"kv", kv_model);
  Reopened<KxDocsDB>(fs, u"docs", docs_model);
  return 0;
}
