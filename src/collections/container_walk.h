// The one way the library's serializers walk containers. The JSON writer
// and the MessagePack encoder both recognise objects by type name; this is
// where that recognition lives, together with the fast paths for the
// library's own classes and the rules that keep a walk sound while client
// code, called for a foreign member, changes what is being walked.
#ifndef QUORVEL_COLLECTIONS_CONTAINER_WALK_H_
#define QUORVEL_COLLECTIONS_CONTAINER_WALK_H_

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string_view>
#include <typeinfo>

#include "quorvel/carray.h"
#include "quorvel/convert.h"
#include "quorvel/dictionary.h"
#include "quorvel/dispatch.h"
#include "quorvel/enumerator.h"
#include "quorvel/object.h"
#include "quorvel/value.h"

namespace quorvel {

// The type names a serializer tells apart. As views, so that comparing with
// one costs no count of its characters.
inline constexpr std::u16string_view kDictionaryName = u"Dictionary";
inline constexpr std::u16string_view kRecordName = u"KxDocRec";
inline constexpr std::u16string_view kListName = u"CArray";
inline constexpr std::u16string_view kCollectionName = u"Collection";

// What a serializer makes of an object, decided by its type name.
enum class ContainerShape {
  kMap,         // "Dictionary" or "KxDocRec": keys and values in key order
  kList,        // "CArray": elements from index 0
  kCollection,  // "Collection": elements in enumeration order
  kOther,       // any other name; the serializer rejects it
};

class ContainerWalk;

namespace container_walk_internal {
// The innermost walk alive on this thread; each walk links the one it
// runs inside. Initial-exec, so that starting a walk costs two moves and no
// call to find the variable.
extern constinit thread_local ContainerWalk* t_innermost
    __attribute__((tls_model("initial-exec")));
}  // namespace container_walk_internal

// One object on its way through a serializer. Walks live on the stack and
// end in the reverse order of their start.
//
// The library's Dictionary and CArray, and any FieldMap, are read directly;
// any other object that bears one of the names above is read through its
// members by name: a map by `Count`, `Keys` and `Item(key)`, a list by
// `Count` (read once) and `Item(index)`, a collection by enumeration.
//
// Client code cannot destroy what is being read: before anything that may
// run it (a foreign object's type name or members), every walk alive on the
// thread takes hold of its object, and of the Dictionary of a FieldMap,
// until it ends. A tree of the library's own containers runs no client
// code, so its walks never touch the reference counts, whose atomic updates
// cost more than the rest of starting a walk.
//
// A visitor may call out to client code that changes the container being
// walked. The walk then never touches freed memory: a list is re-measured
// before each element, a map is followed by position (see
// `Dictionary::NextEntry`). What it then visits is what the container holds
// at each step.
class ContainerWalk {
 public:
  // Tells the shape of `object`. The two classes met most often are told
  // apart inline, by their type_info names' addresses (one per class within
  // one binary); anything else goes by name.
  explicit ContainerWalk(Object& object) : object_(&object) {
    const char* name = typeid(object).name();
    if (name == typeid(Dictionary).name()) {
      map_ = static_cast<const Dictionary*>(&object);
      type_name_ = kDictionaryName;
      shape_ = ContainerShape::kMap;
    } else if (name == typeid(CArray).name()) {
      list_ = static_cast<const CArray*>(&object);
      type_name_ = kListName;
      shape_ = ContainerShape::kList;
    } else {
      ClassifyOther(object);
    }
  }
  ContainerWalk(const ContainerWalk&) = delete;
  ContainerWalk& operator=(const ContainerWalk&) = delete;

  ContainerShape shape() const { return shape_; }
  std::u16string_view type_name() const { return type_name_; }

  // Returns the number of members of a map or a list; a foreign object's
  // `Count` is called once and remembered. Raises what that member raises.
  int32_t Count() {
    if (map_ != nullptr) return map_->Count();
    if (list_ != nullptr) return list_->Count();
    return ForeignCount();
  }

  // Calls `visit(key, value)` with a std::u16string_view and a const Value&
  // for each entry of a map, in key order, while it returns true; returns
  // how many entries it visited. The key and value are valid until client
  // code runs; a visitor that writes an object starts a walk of that object
  // before anything else. With `kFetchAhead`, the entries' keys and values
  // are asked for ahead of the walk.
  template <bool kFetchAhead = false, class Visit>
  int32_t ForEachField(Visit&& visit);

  // Calls `visit(item)` with a const Value& for each element of a list or
  // a collection, in order, while it returns true; returns how many
  // elements it visited. With `kFetchAhead`, members a few elements ahead
  // are asked for from memory in stages (see `FetchAhead`); with
  // `kFetchInner` as well, one stage more (see `FetchInnerMembers`).
  template <bool kFetchAhead = false, bool kFetchInner = false, class Visit>
  int32_t ForEachItem(Visit&& visit);

 private:
  // Keeps the thread's chain of walks; a member of its own so that a
  // constructor that raises still unlinks the walk.
  class Link {
   public:
    explicit Link(ContainerWalk* walk)
        : outer_(container_walk_internal::t_innermost) {
      container_walk_internal::t_innermost = walk;
    }
    ~Link() { container_walk_internal::t_innermost = outer_; }
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;
    ContainerWalk* outer() const { return outer_; }

   private:
    ContainerWalk* outer_;
  };

  // Takes hold of the objects of this thread's walks that hold nothing yet,
  // from the innermost outwards. A held walk's outer ones are all held.
  static void HoldWalks();
  void ClassifyOther(Object& object);
  int32_t ForeignCount();

  // Declared before `link_`, so released only after the walk is unlinked.
  Ref<Object> held_;
  Ref<Dictionary> fields_;  // held for a FieldMap, which may replace them
  Object* object_;
  Link link_{this};
  const Dictionary* map_ = nullptr;  // the object itself or `fields_`
  const CArray* list_ = nullptr;
  std::u16string_view type_name_;
  ContainerShape shape_ = ContainerShape::kOther;
  std::optional<int32_t> foreign_count_;
};

namespace container_walk_internal {

// A big tree lies far outside the caches, and a walk that reads it one
// member at a time waits for memory at every object, entry array and text.
// A list walk can therefore have the members it will reach soon fetched in
// stages, a few members ahead: first the member's own block, then (once it
// has arrived) its entry or element array, then the blocks its entries
// refer to, then their arrays. Each stage reads only what the one before
// fetched, so the fetches of several members overlap instead of queueing.
// Fetching never changes what is visited; a wrong guess costs only time.
// Records are left out: telling them apart costs more than it saves.

enum class OwnClass { kMap, kList, kOther };

// Tells the library's own containers apart by their type_info names'
// addresses (one per class within one binary), without comparing text.
// Kept out of line on purpose: inlined into the fetch stages, GCC's code
// for them made the MessagePack encoder's walk of a large tree (the
// codecs benchmark) some 25% slower, for the same loads and prefetches.
[[gnu::noinline]] OwnClass OwnClassOf(const Object& object);

inline const CArray* OwnListOf(const Value& v) {
  if (!v.IsObject() || v.object() == nullptr) return nullptr;
  if (OwnClassOf(*v.object()) != OwnClass::kList) return nullptr;
  return static_cast<const CArray*>(v.object());
}

inline const Dictionary* OwnMapOf(const Value& v) {
  if (!v.IsObject() || v.object() == nullptr) return nullptr;
  if (OwnClassOf(*v.object()) != OwnClass::kMap) return nullptr;
  return static_cast<const Dictionary*>(v.object());
}

// Asks for the first cache lines of the element or entry array of a
// container whose block is in the cache: enough for a record.
inline void PrefetchStorage(const Value& v) {
  constexpr size_t kMostBytes = 512;
  if (const CArray* list = OwnListOf(v)) {
    const size_t bytes = sizeof(Value) * static_cast<size_t>(list->Count());
    const auto* at = reinterpret_cast<const unsigned char*>(list->begin());
    for (size_t k = 0; k < std::min(kMostBytes, bytes); k += 64)
      __builtin_prefetch(at + k);
  } else if (const Dictionary* map = OwnMapOf(v)) {
    map->PrefetchEntries(kMostBytes);
  }
}

// Calls `each` for the first members of a container whose array is in the
// cache, a record's worth of them.
template <class Each>
inline void ForFirstMembers(const Value& v, Each&& each) {
  constexpr int32_t kMostMembers = 16;
  if (const CArray* list = OwnListOf(v)) {
    const int32_t n = std::min(list->Count(), kMostMembers);
    for (int32_t i = 0; i < n; ++i) each(list->begin()[i]);
  } else if (const Dictionary* map = OwnMapOf(v)) {
    int32_t seen = 0;
    for (const Dictionary::Entry& e : *map) {
      if (++seen > kMostMembers) break;
      __builtin_prefetch(e.key.rep());
      each(e.value);
    }
  }
}

// The stages, by their distance ahead of the element being visited: two
// elements' time between stages lets each fetch arrive.
constexpr int32_t kFetchBlock = 8;
constexpr int32_t kFetchStorage = 6;
constexpr int32_t kFetchMembers = 4;
constexpr int32_t kFetchMemberStorage = 2;

inline void FetchStage(const Value& v, int32_t distance) {
  switch (distance) {
    case kFetchBlock:
      return v.PrefetchPayload();
    case kFetchStorage:
      return PrefetchStorage(v);
    case kFetchMembers:
      return ForFirstMembers(v, [](const Value& m) { m.PrefetchPayload(); });
    default:
      return ForFirstMembers(v, PrefetchStorage);
  }
}

// A stage after the others, one element ahead: the blocks of the members'
// members (a record's nested maps and lists), which the others leave for
// the walk of each member to ask for, too late to overlap. It pays where
// the work per element is small, as in the MessagePack encoder; the JSON
// writers do enough per element that it did not.
inline void FetchInnerMembers(const Value& v) {
  ForFirstMembers(v, [](const Value& m) {
    ForFirstMembers(m, [](const Value& inner) { inner.PrefetchPayload(); });
  });
}

// Runs every stage for the first elements of a list, before its walk.
template <bool kInner>
inline void FetchFirst(const CArray& list) {
  for (int32_t distance :
       {kFetchBlock, kFetchStorage, kFetchMembers, kFetchMemberStorage}) {
    for (int32_t i = 0; i < std::min(list.Count(), distance); ++i)
      FetchStage(list.begin()[i], distance);
  }
  if constexpr (kInner) {
    if (list.Count() > 0) FetchInnerMembers(list.begin()[0]);
  }
}

// Runs each stage for the element that far ahead of element `at`.
template <bool kInner>
inline void FetchAhead(const CArray& list, int32_t at) {
  const int32_t count = list.Count();
  for (int32_t distance :
       {kFetchBlock, kFetchStorage, kFetchMembers, kFetchMemberStorage}) {
    if (at + distance < count)
      FetchStage(list.begin()[at + distance], distance);
  }
  if constexpr (kInner) {
    if (at + 1 < count) FetchInnerMembers(list.begin()[at + 1]);
  }
}

}  // namespace container_walk_internal

template <bool kFetchAhead, class Visit>
int32_t ContainerWalk::ForEachField(Visit&& visit) {
  int32_t visited = 0;
  if (map_ != nullptr) {
    const Dictionary& map = *map_;
    if constexpr (kFetchAhead) {
      for (const Dictionary::Entry& e : map) {
        __builtin_prefetch(e.key.rep());
        e.value.PrefetchPayload();
      }
    }
    size_t position = 0;
    while (const Dictionary::Entry* e = map.NextEntry(position)) {
      ++visited;
      if (!visit(std::u16string_view(e->key), e->value)) break;
    }
    return visited;
  }
  const Value keys = InvokeByName(object_, u"Keys", CallType::Get, {});
  if (!keys.IsArray()) return 0;
  const int32_t last = UBound(keys);
  for (int32_t i = LBound(keys); i <= last; ++i) {
    const Value key = ArrayItem(keys, i);
    const Value item = InvokeByName(object_, u"Item", CallType::Get, {&key, 1});
    const String key_text = ToText(key);
    ++visited;
    if (!visit(std::u16string_view(key_text), item)) break;
  }
  return visited;
}

template <bool kFetchAhead, bool kFetchInner, class Visit>
int32_t ContainerWalk::ForEachItem(Visit&& visit) {
  using container_walk_internal::FetchAhead;
  using container_walk_internal::FetchFirst;
  int32_t visited = 0;
  if (list_ != nullptr) {
    if constexpr (kFetchAhead) FetchFirst<kFetchInner>(*list_);
    for (int32_t i = 0; i < list_->Count(); ++i) {
      if constexpr (kFetchAhead) FetchAhead<kFetchInner>(*list_, i);
      ++visited;
      if (!visit(list_->begin()[i])) break;
    }
    return visited;
  }
  if (shape_ == ContainerShape::kCollection) {
    // Enumeration has no way out early; what follows a stop is passed over.
    bool more = true;
    ForEachElement(Value(Ref<Object>(object_)), [&](const Value& item) {
      if (!more) return;
      ++visited;
      more = visit(item);
    });
    return visited;
  }
  const int32_t count = Count();
  for (int32_t i = 0; i < count; ++i) {
    const Value index(i);
    const Value item =
        InvokeByName(object_, u"Item", CallType::Get, {&index, 1});
    ++visited;
    if (!visit(item)) break;
  }
  return visited;
}

}  // namespace quorvel

#endif  // QUORVEL_COLLECTIONS_CONTAINER_WALK_H_
