// Files of an application: fixed size set at creation, read and write rights.
#include <algorithm>
#include <cstring>

#include "meter.h"
#include "skf_common.h"

using namespace varo::softkey;
using skf::HAPPLICATION;

namespace {

Session loginOf(void* h) {
  return HandleTable::instance().login(h).value_or(Session{});
}

}  // namespace

SKF_EXPORT ULONG SKF_EnumFiles(HAPPLICATION hApp, skf::LPSTR szFileList, ULONG* pulSize) {
  HandleEntry e;
  if (!lookupHandle(hApp, HandleKind::Application, &e)) return skf::SAR_INVALIDHANDLEERR;
  if (ULONG f = injectedFault(e.store, "SKF_EnumFiles", {e.device, e.app})) return f;
  if (!pulSize) return skf::SAR_INVALIDPARAMERR;
  AppScope scope(e, false);
  if (scope.code() != skf::SAR_OK) return scope.code();
  std::vector<std::string> names;
  for (const auto& file : scope.app().files) names.push_back(file.name);
  return putNameList(names, szFileList, pulSize);
}

SKF_EXPORT ULONG SKF_CreateFile(HAPPLICATION hApp, skf::LPSTR szFileName, ULONG ulFileSize,
                                ULONG ulReadRights, ULONG ulWriteRights) {
  HandleEntry e;
  if (!lookupHandle(hApp, HandleKind::Application, &e)) return skf::SAR_INVALIDHANDLEERR;
  std::string name;
  bool named = readName(szFileName, kMaxFileNameLen, &name);
  if (ULONG f = injectedFault(e.store, "SKF_CreateFile", {e.device, e.app, name})) return f;
  if (!szFileName) return skf::SAR_INVALIDPARAMERR;
  if (!named) return skf::SAR_NAMELENERR;
  AppScope scope(e, true);
  if (scope.code() != skf::SAR_OK) return scope.code();
  Application& app = scope.app();
  if (ULONG rc = checkRights(app.createFileRights, loginOf(hApp))) return rc;
  if (app.findFile(name)) return skf::SAR_FILE_ALREADY_EXIST;
  KeyData& key = scope.key().data();
  if (key.usedSpace() + ulFileSize > key.device.totalSpace) return skf::SAR_NO_ROOM;
  FileEntry file{name, ulFileSize, ulReadRights, ulWriteRights, key.nextBlob++};
  // The content first: a manifest entry never points at a blob that was not
  // written. Unwritten bytes read as zero.
  if (!scope.key().writeBlob(file.blob, std::string(ulFileSize, '\0')))
    return skf::SAR_WRITEFILEERR;
  app.files.push_back(file);
  if (!scope.key().save()) {
    scope.key().removeBlob(file.blob);
    return skf::SAR_WRITEFILEERR;
  }
  return skf::SAR_OK;
}

SKF_EXPORT ULONG SKF_DeleteFile(HAPPLICATION hApp, skf::LPSTR szFileName) {
  HandleEntry e;
  if (!lookupHandle(hApp, HandleKind::Application, &e)) return skf::SAR_INVALIDHANDLEERR;
  std::string name;
  bool named = readName(szFileName, kMaxFileNameLen, &name);
  if (ULONG f = injectedFault(e.store, "SKF_DeleteFile", {e.device, e.app, name})) return f;
  if (!szFileName) return skf::SAR_INVALIDPARAMERR;
  if (!named) return skf::SAR_FILE_NOT_EXIST;
  AppScope scope(e, true);
  if (scope.code() != skf::SAR_OK) return scope.code();
  Application& app = scope.app();
  FileEntry* file = app.findFile(name);
  if (!file) return skf::SAR_FILE_NOT_EXIST;
  if (ULONG rc = checkRights(file->writeRights, loginOf(hApp))) return rc;
  uint64_t blob = file->blob;
  app.files.erase(app.files.begin() + (file - app.files.data()));
  if (!scope.key().save()) return skf::SAR_WRITEFILEERR;
  scope.key().removeBlob(blob);
  return skf::SAR_OK;
}

SKF_EXPORT ULONG SKF_GetFileInfo(HAPPLICATION hApp, skf::LPSTR szFileName,
                                 skf::FILEATTRIBUTE* pFileInfo) {
  HandleEntry e;
  if (!lookupHandle(hApp, HandleKind::Application, &e)) return skf::SAR_INVALIDHANDLEERR;
  std::string name;
  bool named = readName(szFileName, kMaxFileNameLen, &name);
  if (ULONG f = injectedFault(e.store, "SKF_GetFileInfo", {e.device, e.app, name})) return f;
  if (!szFileName || !pFileInfo) return skf::SAR_INVALIDPARAMERR;
  if (!named) return skf::SAR_FILE_NOT_EXIST;
  AppScope scope(e, false);
  if (scope.code() != skf::SAR_OK) return scope.code();
  const FileEntry* file = scope.app().findFile(name);
  if (!file) return skf::SAR_FILE_NOT_EXIST;
  skf::FILEATTRIBUTE info;
  std::memset(&info, 0, sizeof info);
  std::memcpy(info.FileName, file->name.data(), std::min(sizeof info.FileName, file->name.size()));
  info.FileSize = file->size;
  info.ReadRights = file->readRights;
  info.WriteRights = file->writeRights;
  std::memcpy(pFileInfo, &info, sizeof info);
  return skf::SAR_OK;
}

SKF_EXPORT ULONG SKF_ReadFile(HAPPLICATION hApp, skf::LPSTR szFileName, ULONG ulOffset,
                              ULONG ulSize, BYTE* pbOutData, ULONG* pulOutLen) {
  HandleEntry e;
  if (!lookupHandle(hApp, HandleKind::Application, &e)) return skf::SAR_INVALIDHANDLEERR;
  std::string name;
  bool named = readName(szFileName, kMaxFileNameLen, &name);
  if (ULONG f = injectedFault(e.store, "SKF_ReadFile", {e.device, e.app, name})) return f;
  if (!szFileName || !pulOutLen) return skf::SAR_INVALIDPARAMERR;
  if (!named) return skf::SAR_FILE_NOT_EXIST;
  AppScope scope(e, false);
  if (scope.code() != skf::SAR_OK) return scope.code();
  const FileEntry* file = scope.app().findFile(name);
  if (!file) return skf::SAR_FILE_NOT_EXIST;
  if (ULONG rc = checkRights(file->readRights, loginOf(hApp))) return rc;
  // A read past the end returns what exists (possibly nothing).
  ULONG available = ulOffset >= file->size ? 0 : std::min<ULONG>(ulSize, file->size - ulOffset);
  if (!pbOutData) {
    *pulOutLen = available;
    return skf::SAR_OK;
  }
  if (*pulOutLen < available) {
    *pulOutLen = available;
    return skf::SAR_BUFFER_TOO_SMALL;
  }
  std::string content = scope.key().readBlob(file->blob);
  content.resize(file->size, '\0');
  if (available) std::memcpy(pbOutData, content.data() + ulOffset, available);
  *pulOutLen = available;
  meterBytes(e.store, available, 0);
  return skf::SAR_OK;
}

SKF_EXPORT ULONG SKF_WriteFile(HAPPLICATION hApp, skf::LPSTR szFileName, ULONG ulOffset,
                               BYTE* pbData, ULONG ulSize) {
  HandleEntry e;
  if (!lookupHandle(hApp, HandleKind::Application, &e)) return skf::SAR_INVALIDHANDLEERR;
  std::string name;
  bool named = readName(szFileName, kMaxFileNameLen, &name);
  if (ULONG f = injectedFault(e.store, "SKF_WriteFile", {e.device, e.app, name})) return f;
  if (!szFileName || (!pbData && ulSize > 0)) return skf::SAR_INVALIDPARAMERR;
  if (!named) return skf::SAR_FILE_NOT_EXIST;
  AppScope scope(e, true);
  if (scope.code() != skf::SAR_OK) return scope.code();
  const FileEntry* file = scope.app().findFile(name);
  if (!file) return skf::SAR_FILE_NOT_EXIST;
  if (ULONG rc = checkRights(file->writeRights, loginOf(hApp))) return rc;
  // The size is fixed at creation: a write that does not fit is refused whole.
  if (uint64_t(ulOffset) + ulSize > file->size) return skf::SAR_INDATALENERR;
  std::string content = scope.key().readBlob(file->blob);
  content.resize(file->size, '\0');
  if (ulSize) std::memcpy(&content[ulOffset], pbData, ulSize);
  if (!scope.key().writeBlob(file->blob, content)) return skf::SAR_WRITEFILEERR;
  meterBytes(e.store, 0, ulSize);
  return skf::SAR_OK;
}
