// The texts of the seal store: the index on the key ("SEALINDEX"), the
// local list, and the seal list the driver hands out. They are JSON arrays
// written by plain concatenation and read by text search, so these helpers
// work on the text itself.
#pragma once

#include <QString>
#include <QStringList>

// The text value that follows key in text (searched as plain text, also
// inside values): from the first ":\"" after the key to the next quotation
// mark. Empty when any of them is missing. With base64 set, text is first
// decoded from Base64 and cut at its first zero byte.
QString GetJsonValue(QString text, QString key, bool base64);

namespace gm3000 {

// The objects of an index text "[{...},{...}]", each with its braces; empty
// when the text is not enclosed in brackets or shorter than 3 characters.
QStringList indexEntries(const QString& indexText);

// The entries of one key's index with the pair "DEVICEURL" added, joined
// and each followed by ",": last pair of the first entry, first pair of
// every other one. inner is the index text without its brackets.
QString entriesWithLocator(const QString& inner, const QString& locator);

// The identifiers of a seal list, in list order, as the "ID" pairs appear.
QStringList listedIdentifiers(const QString& list);

}  // namespace gm3000
