// Creation by class name: the one list of the classes a client can create.
#include <array>
#include <string_view>

#include "core/std_exceptions.h"
#include "quorvel/callbacks.h"
#include "quorvel/carray.h"
#include "quorvel/cdataset.h"
#include "quorvel/cdict.h"
#include "quorvel/collection.h"
#include "quorvel/cqueue.h"
#include "quorvel/cquorvelpi.h"
#include "quorvel/cstack.h"
#include "quorvel/cstringbuilder.h"
#include "quorvel/dictionary.h"
#include "quorvel/dispatch.h"
#include "quorvel/error.h"
#include "quorvel/kxdocrec.h"
#include "quorvel/kxdocsdb.h"
#include "quorvel/kxdocstore.h"
#include "quorvel/kxkvdb.h"

namespace quorvel {

namespace {

struct ClassEntry {
  std::u16string_view name;
  ObjectMaker create;
};

template <class T>
Ref<Object> Make() {
  return T::Create();
}

constexpr std::array kClasses = {
    ClassEntry{u"CArray", &Make<CArray>},
    ClassEntry{u"ISortCallback", &Make<ISortCallback>},
    ClassEntry{u"IFilterCallback", &Make<IFilterCallback>},
    ClassEntry{u"CStack", &Make<CStack>},
    ClassEntry{u"CQueue", &Make<CQueue>},
    ClassEntry{u"CDict", &Make<CDict>},
    ClassEntry{u"CQuorvelPI", &Make<CQuorvelPI>},
    ClassEntry{u"cStringBuilder", &Make<cStringBuilder>},
    ClassEntry{u"CDataset", &Make<CDataset>},
    ClassEntry{u"KxKVDB", &Make<KxKVDB>},
    ClassEntry{u"KxDocRec", &Make<KxDocRec>},
    ClassEntry{u"KxDocsDB", &Make<KxDocsDB>},
    ClassEntry{u"KxDocStore", &Make<KxDocStore>},
    ClassEntry{u"Scripting.Dictionary", &Make<Dictionary>},
    ClassEntry{u"Dictionary", &Make<Dictionary>},
    ClassEntry{u"Collection", &Make<Collection>},
    ClassEntry{u"VBA.Collection", &Make<Collection>},
};

bool SameNameIgnoringCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i], y = b[i];
    if (x >= u'A' && x <= u'Z') x += 32;
    if (y >= u'A' && y <= u'Z') y += 32;
    if (x != y) return false;
  }
  return true;
}

}  // namespace

ObjectMaker FindObjectMaker(std::u16string_view class_name) {
  constexpr std::u16string_view kPrefix = u"KxQuorvel.";
  std::u16string_view name = class_name;
  if (name.size() > kPrefix.size() &&
      SameNameIgnoringCase(name.substr(0, kPrefix.size()), kPrefix))
    name.remove_prefix(kPrefix.size());
  for (const ClassEntry& entry : kClasses) {
    if (SameNameIgnoringCase(entry.name, name)) return entry.create;
  }
  return nullptr;
}

Value CreateObject(std::u16string_view class_name) {
  const ObjectMaker make = FindObjectMaker(class_name);
  if (make == nullptr) RaiseStandard(kErrCantCreateObject);
  return internal::TranslateStdExceptions([make] { return Value(make()); });
}

}  // namespace quorvel
