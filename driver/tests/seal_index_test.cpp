// The index and seal-list texts read into entries and written back: what
// the text search of older readers got wrong (keys and separators inside
// values, escapes) and what the writers and the listing must produce.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "VaroDeviceBase_LM_GM3000.h"
#include "seal_index.h"

namespace {

using gm3000::parseIndex;

const QString kTwo = R"([{"ID":"1","NAME":"A","VER":"1","FILENAME":"093015250","TYPE":"1"},)"
                     R"({"ID":"2","NAME":"B","VER":"1","FILENAME":"101122480","TYPE":"1"}])";

TEST(SealIndex, ParsesExactlyAndWritesCompactText) {
  struct Case {
    QString text;
    int entries = -1;  // -1: not an index
    int entry = 0;
    QString key = {}, value = {}, written = {};  // written empty: the text itself
  } cases[] = {
      {kTwo, 2, 1, "FILENAME", "101122480", ""},
      {R"([{"ID":"a\"b\\c\/\u00e9\ud83d\ude00\n\u0001"}])", 1, 0, "ID",
       QString::fromUtf8("a\"b\\c/\xc3\xa9\xf0\x9f\x98\x80\n\x01"),
       QString::fromUtf8(R"([{"ID":"a\"b\\c/)"
                         "\xc3\xa9\xf0\x9f\x98\x80"
                         R"(\n\u0001"}])")},
      {R"([{"SEALID":"ID","NAME":"ID","ID":"7"}])", 1, 0, "ID", "7", ""},
      {R"([{"ID":"1","NAME":"my FILENAME","FILENAME":"093015250"}])", 1, 0, "FILENAME", "093015250",
       ""},
      {R"([{"ID":"1","NAME":"a},{\"ID\":\"9"},{"ID":"2"}])", 2, 1, "ID", "2", ""},
      {R"([{"ID":"1","DEVICEURL":"LM_GM3000&K"},{"DEVICEURL":"x","ID":"2"}])", 2, 1, "DEVICEURL",
       "x", R"([{"ID":"1"},{"ID":"2"}])"},
      {" [ {\"ID\" : \"1\" ,\"VER\":1, \"T\":true,\"N\":null,\"X\":-0.5e+3} , {}\t]\r\n", 2, 0,
       "VER", "1", R"([{"ID":"1","VER":1,"T":true,"N":null,"X":-0.5e+3},{}])"},
      {"[]", 0, 0, "", "", ""},
      {"", -1},
      {"[", -1},
      {R"({"ID":"1"})", -1},
      {R"([{"ID":"1"}]x)", -1},
      {R"([{"ID":"1"},])", -1},
      {R"([{"ID":"1}])", -1},
      {"[{\"ID\":\"1\n\"}]", -1},
      {R"([{"ID":"\x"}])", -1},
      {R"([{"ID":"\u12g4"}])", -1},
      {R"([{"ID":"\ud800"}])", -1},
      {R"([{"ID":"\udc00"}])", -1},
      {R"([{"ID":["1"]}])", -1},
      {R"([{"ID":{}}])", -1},
      {R"(["1"])", -1},
      {R"([{"ID":01}])", -1},
      {R"([{"ID":tru}])", -1},
      {R"([{"ID"}])", -1},
      {QString(R"([{"ID":"1"}])") + QChar(0), -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.toStdString());
    const auto entries = parseIndex(c.text);
    ASSERT_EQ(entries.has_value(), c.entries >= 0);
    if (!entries) continue;
    ASSERT_EQ(int(entries->size()), c.entries);
    if (c.entries) {
      EXPECT_EQ((*entries)[c.entry].value(c.key), c.value);
    }
    EXPECT_EQ(gm3000::indexText(*entries), c.written.isEmpty() ? c.text : c.written);
  }
  EXPECT_EQ(gm3000::indexText({gm3000::newEntry("7", "A", 1, "093015250", 2)}),
            R"([{"ID":"7","NAME":"A","VER":"1","FILENAME":"093015250","TYPE":"2"}])");

  // What the writer may store.
  const struct {
    QString value;
    bool storable;
  } values[] = {
      {"", true},
      {QString::fromUtf8("Demo \xe5\x85\xac\xe5\x8f\xb8 {x} , {y} \xf0\x9f\x98\x80"), true},
      {"a\"b", false},
      {"a\\b", false},
      {"a},{b", false},
      {"a\tb", false},
      {QString("a") + QChar(0), false},
      {"a\x7f", false},
      {QString(QChar(0xD83D)), false},
      {QString(QChar(0xDE00)) + "a", false},
  };
  for (const auto& c : values)
    EXPECT_EQ(gm3000::isStorableValue(c.value), c.storable) << c.value.toStdString();
}

TEST(SealIndex, ListsLooksUpAndRemovesEntries) {
  const QString three = R"([{"ID":"1"},{"ID":"2","DEVICEURL":"old"},{"ID":"3"}])";
  EXPECT_EQ(gm3000::listedEntries(*parseIndex(kTwo), "LM_GM3000&K"),
            R"({"ID":"1","NAME":"A","VER":"1","FILENAME":"093015250","TYPE":"1",)"
            R"("DEVICEURL":"LM_GM3000&K"},{"DEVICEURL":"LM_GM3000&K","ID":"2","NAME":"B",)"
            R"("VER":"1","FILENAME":"101122480","TYPE":"1"})");
  EXPECT_EQ(gm3000::listedEntries(*parseIndex(R"([{"ID":"1"}])"), "L"),
            R"({"ID":"1","DEVICEURL":"L"})");
  EXPECT_EQ(gm3000::listedEntries(*parseIndex(three), "L"),
            R"({"ID":"1","DEVICEURL":"L"},{"DEVICEURL":"L","ID":"2"},{"DEVICEURL":"L","ID":"3"})");
  EXPECT_EQ(gm3000::listedEntries({}, "L"), "");

  // A device name that would end the string or start an escape.
  const QString locator = R"(LM_GM3000&K"},{\)";
  const QJsonDocument list = QJsonDocument::fromJson(
      ("[" + gm3000::listedEntries(*parseIndex(three), locator) + "]").toUtf8());
  ASSERT_TRUE(list.isArray());
  ASSERT_EQ(list.array().size(), 3);
  for (const auto& entry : list.array())
    EXPECT_EQ(entry.toObject().value("DEVICEURL").toString(), locator);

  VaroDeviceBase_LM_GM3000 driver;
  const QString a = R"({"ID":"a","FILENAME":"fa"})", b = R"({ "ID" : "b" , "FILENAME":"fb" })",
                c = R"({"ID":"c"})", none = R"({"FILENAME":"fn"})", empty = R"({"ID":""})";
  struct Case {
    QString id, text, fileName, kept;
  } cases[] = {
      {"1", R"([{"ID":"12","FILENAME":"x"},{"ID":"1","FILENAME":"y"}])", "y",
       R"([{"ID":"12","FILENAME":"x"}])"},
      {"12", R"([{"ID":"1","FILENAME":"y"},{"ID":"12","FILENAME":"x"}])", "x",
       R"([{"ID":"1","FILENAME":"y"}])"},
      {"a", "[" + a + "]", "fa", "[]"},
      {"A", "[" + a + ", " + b + "]", "", "[" + a + "," + b + "]"},
      {"b", "[" + a + "," + b + "," + c + "]", "fb", "[" + a + "," + c + "]"},
      {"b", "[" + b + "," + a + ",\n" + b + "]", "fb", "[" + a + "]"},
      {"c", "[" + none + "," + c + "," + empty + "]", "", "[]"},
      {"", "[" + empty + "," + a + "]", "", "[" + a + "]"},
      {"FILENAME", R"([{"ID":"1","NAME":"FILENAME","FILENAME":"f"}])", "",
       R"([{"ID":"1","NAME":"FILENAME","FILENAME":"f"}])"},
      {R"(a"b)", R"([{"ID":"a\"b","FILENAME":"q"}])", "q", "[]"},
      {"a", " [" + a + "]", "", ""},
      {"a", "[" + a + "] ", "", ""},
      {"a", "[" + a + ",]", "", ""},
      {"a", "[]", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id.toStdString() + " in " + c.text.toStdString());
    EXPECT_EQ(driver.GetSealFileName(c.id, c.text), c.fileName);
    EXPECT_EQ(driver.DeleteFromJson(c.id, c.text), c.kept);
  }
}

}  // namespace
