// Whether a process runs as the same user as the calling process: the user
// SIDs of the two primary tokens are compared.
#include <windows.h>

#include <vector>

#include "classifier/process_facts.h"
#include "common/unique_handle.h"

namespace mirrow {
namespace {

// The TOKEN_USER record of a process's token, or nothing when the token
// cannot be opened or read.
std::vector<unsigned char> token_user_of(HANDLE process) {
  UniqueHandle token;
  if (!OpenProcessToken(process, TOKEN_QUERY, token.put())) return {};
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  if (size == 0) return {};
  std::vector<unsigned char> record(size);  // zeroed
  if (!GetTokenInformation(token.get(), TokenUser, record.data(), size, &size)) return {};
  return record;
}

PSID user_sid(std::vector<unsigned char>& record) {
  return reinterpret_cast<TOKEN_USER*>(record.data())->User.Sid;
}

}  // namespace

bool is_same_user(void* process_handle) {
  if (process_handle == nullptr) return false;
  std::vector<unsigned char> theirs = token_user_of(process_handle);
  if (theirs.empty()) return false;
  std::vector<unsigned char> ours = token_user_of(GetCurrentProcess());
  if (ours.empty()) return false;
  return EqualSid(user_sid(theirs), user_sid(ours)) != FALSE;
}

}  // namespace mirrow
