#pragma once

// One JSON value answering queries by path. Service replies are parsed into a
// document and read field by field.
//
// Paths: member names separated by ".", "[" decimal index "]" for an element,
// "length" for the element count of an array or the length of a string, e.g.
// "file_list.list[3].fs_id". A path starting with "[" addresses the elements of
// a document that is itself an array; operations that say so accept it.
//
// Texts in and out are local text. Two forms of a value read as text:
// plain form: a string as it is, a number in its shortest decimal form
//   (integers exact), true/false, objects and arrays as JSON; null and absent
//   members give "".
// JSON form: compact JSON with escaped strings and exact integers; an absent
//   member gives "".
//
// Nothing throws but parse, which lets std::bad_alloc through. A failed
// operation yields its empty result ("", 0, false, a null document, no
// change); the reason is kept in last_script_error().
//
// Documents are made to be read: a parse builds a flat form of the value that
// every read walks without allocating. Writes change an nlohmann document made
// from it at the first write; the next read after writes makes the flat form
// again, which takes time in proportion to the document.

#include <memory>
#include <string>
#include <vector>

namespace sharelink {

class JsonDocument {
 public:
  // Results of type_of and arguments of reset.
  static constexpr int kTypeNull = 0;  // also: nothing there
  static constexpr int kTypeNumber = 2;
  static constexpr int kTypeObject = 4;
  static constexpr int kTypeArray = 5;
  static constexpr int kTypeString = 6;
  static constexpr int kTypeOther = -1;  // a boolean, or a path that cannot be read

  // An empty object. Cheap to make: one is made per service call.
  JsonDocument();
  ~JsonDocument();
  // A copy holds the same value as its source: a change through either shows in
  // both. get_document makes an independent one.
  JsonDocument(const JsonDocument& other);
  JsonDocument& operator=(const JsonDocument& other);

  // Replaces the value with the JSON text's. False, with the document null, for
  // a text that is not JSON, nests too deeply, or is the JSON null; throws
  // std::bad_alloc, the document null, for one that does not fit in memory.
  bool parse(const std::string& text);
  std::string to_json() const;

  // Writers return true when the value was stored. A value with as_json is a
  // JSON text; one that does not parse leaves the document unchanged.
  // set_member stores an empty as_json value as an empty object.
  bool set_member(const std::string& path, const std::string& value, bool as_json = false);
  bool set_member_json(const std::string& path, const std::string& value);
  bool set_member_number(const std::string& path, double number);
  // Replaces the value at path (or the document, for an empty path) by an array
  // unless it is one, then appends the value.
  bool push(const std::string& value, const std::string& path = "", bool as_json = false);
  // Writes element index of the document (a member named by the index for an
  // object), growing an array with nulls.
  bool set_element(int index, const std::string& value, bool as_json = false);
  // Removes one element of the document array; a negative index counts from
  // the end.
  bool remove_element(int index);
  // kTypeNull and kTypeObject make the document an empty object, kTypeArray an
  // empty array; other types change nothing.
  bool reset(int type);
  bool set_root(const std::string& value, bool as_json = false);
  void clear();

  // A number, or the number a string spells; 0 otherwise.
  double get_number(const std::string& path) const;
  std::string get_json(const std::string& path) const;
  // Accepts a leading "[". An empty path fails.
  std::string get_text(const std::string& path, bool as_json = false) const;
  // An independent document holding a copy of the value (null when absent).
  JsonDocument get_document(const std::string& path) const;
  // Own members of an object or elements of an array; 0 for anything else. An
  // empty path is the document; a leading "[" is accepted.
  int count(const std::string& path = "") const;
  JsonDocument get_element_document(int index, const std::string& path = "") const;
  std::string get_element_text(int index, const std::string& path = "", bool as_json = false) const;
  // True when the member is there and not null.
  bool has_member(const std::string& path) const;
  // Replaces names with the own member names of the object at path, in document
  // order (the indexes "0", "1", ... of an array); returns their number.
  int member_names(std::vector<std::string>& names, const std::string& path = "") const;
  int type_of(const std::string& path = "") const;

  // Several fields of one value at once, for callers reading a record: base is
  // found once (empty for the document, a leading "[" accepted), then each
  // field path is read relative to it. A field that cannot be read gives "".
  std::vector<std::string> get_texts(const std::string& base,
                                     const std::vector<std::string>& fields,
                                     bool as_json = false) const;

 private:
  struct Value;
  std::shared_ptr<Value> value_;
};

}  // namespace sharelink
