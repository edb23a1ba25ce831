// The online seal-list plug-in: the seals a seal server offers for a token.
// The tool library takes the token apart into the server's address and a
// token identifier and carries the request to the server. Its one entry is
// DoIt, resolved by name by a caller outside the system.
#pragma once

#define VAROGETSEALLISTONLINE_EXPORT __attribute__((visibility("default")))

class VAROGETSEALLISTONLINE_EXPORT VaroGetSealListOnLine {
 public:
  VaroGetSealListOnLine();
};

// token: the server token (Latin-1 text). ip, mac: the client's addresses,
// sent along when given and not empty (null counts as empty).
// output, zero-terminated: the seal list as the server sent it (its Base64
// DATA decoded, up to the first zero byte), or a UTF-8 text that begins with
// "ERROR:". The output is written without a bound: the caller's buffer must
// hold the whole list (the server's reply is at most 10239 bytes, so the
// list is at most 7679 bytes). A null token or output: nothing is done.
extern "C" VAROGETSEALLISTONLINE_EXPORT void DoIt(char* token, const char* ip, const char* mac,
                                                  char* output);
