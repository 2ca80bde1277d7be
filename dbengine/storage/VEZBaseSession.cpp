#include "dbengine/storage/VEZBaseSession.h"

#include "dbengine/storage/VEZMetaObjectDef.h"

namespace vez {

void TVEZBaseSession::RemoveObjectAt(std::size_t index) {
  FSessionNamedObjectList.erase(FSessionNamedObjectList.begin() +
                                static_cast<std::ptrdiff_t>(index));
}

void TVEZBaseSession::SetObject(std::unique_ptr<TVEZSessionNamedObject> value) {
  if (!value) return;
  for (const auto& held : FSessionNamedObjectList) {
    // Freeing the object it is about to keep would leave a dangling entry.
    if (held.get() == value.get()) {
      (void)value.release();
      return;
    }
  }
  const TVEZSessionNamedObject* old =
      value->ObjectID == -1 ? GetObjectByName(value->Name) : GetObjectByID(value->ObjectID);
  if (old != nullptr) {
    for (std::size_t i = 0; i < FSessionNamedObjectList.size(); ++i) {
      if (FSessionNamedObjectList[i].get() == old) {
        RemoveObjectAt(i);
        break;
      }
    }
  }
  FSessionNamedObjectList.push_back(std::move(value));
}

TVEZSessionNamedObject* TVEZBaseSession::GetObjectByName(std::string_view object_name) const {
  for (const auto& object : FSessionNamedObjectList) {
    if (SameDefName(object->Name, object_name)) return object.get();
  }
  return nullptr;
}

TVEZSessionNamedObject* TVEZBaseSession::GetObjectByID(std::int32_t id) const {
  for (const auto& object : FSessionNamedObjectList) {
    if (object->ObjectID == id) return object.get();
  }
  return nullptr;
}

void TVEZBaseSession::DeleteObject(std::int32_t id) {
  for (std::size_t i = 0; i < FSessionNamedObjectList.size(); ++i) {
    if (FSessionNamedObjectList[i]->ObjectID == id) {
      RemoveObjectAt(i);
      return;
    }
  }
}

}  // namespace vez
