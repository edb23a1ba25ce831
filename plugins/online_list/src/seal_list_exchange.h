// The seal-list exchange with a seal server: the request text for a token
// identifier and the caller's answer to the server's reply.
#pragma once

#include <QByteArray>

namespace online_list {

// {"COM":"6","TOKENID":"<id>"[,"IP":"<ip>"][,"MAC":"<mac>"]}: an address is
// sent only when it is not empty. Values are inserted as they are (bytes
// unchanged, no JSON escaping).
QByteArray sealListRequest(const QByteArray& tokenId, const QByteArray& ip, const QByteArray& mac);

// What DoIt answers for the server's reply text: the Base64-decoded DATA up
// to its first zero byte, or one of the "ERROR:" texts.
QByteArray answerToReply(const QByteArray& reply);

}  // namespace online_list
