// An element tree written as an XML document: used for exported documents
// (PMML and statistics) and for the field-format fragments a host attaches to
// its variables. Attribute values and text are escaped on output; numbers are
// written in the shortest form that reads back to the same double.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace VXXML_1_2 {

/// Layout of written documents.
struct ExportFormat {
  int fIndent = 2;           ///< spaces per nesting level
  bool fNewLines = true;     ///< one element per line
  bool fDeclaration = true;  ///< WriteTree starts with <?xml ...?>
};

/// A node of the tree: an element or a text.
class XMLNode {
 public:
  virtual ~XMLNode() = default;
  /// A deep copy on the heap, owned by the caller.
  virtual XMLNode* Clone() const = 0;
  /// Writes the node (and what it holds) at nesting depth `depth`.
  virtual void ToStream(std::ostream& out, const ExportFormat& format, int depth) const = 0;
  /// What ToStream writes at depth 0.
  virtual std::string ToString(const ExportFormat& format = ExportFormat()) const;
};

/// A text node. Created on the heap; the element it is added to owns it.
class XMLString : public XMLNode {
 public:
  /// A text node holding text (escaped when written).
  static XMLString* Create(const std::string& text);
  XMLString* Clone() const override;
  void ToStream(std::ostream& out, const ExportFormat& format, int depth) const override;
  /// The text, unescaped.
  const std::string& Text() const { return fText; }

 private:
  explicit XMLString(std::string text) : fText(std::move(text)) {}
  std::string fText;
};

/// An element: a name, attributes in the order added, and children.
class XMLElement : public XMLNode {
 public:
  /// Created on the heap; owned by whoever holds the pointer (the parent
  /// element once added). Names are written as given: callers pass XML names.
  static XMLElement* Create(const std::string& name);
  ~XMLElement() override;
  XMLElement(const XMLElement&) = delete;
  XMLElement& operator=(const XMLElement&) = delete;

  ///@{
  /// Adding an attribute that exists replaces its value, keeping its position.
  void AddAttribute(const std::string& name, const std::string& value);
  void AddAttribute(const std::string& name, const char* value);
  void AddAttribute(const std::string& name, double value);
  void AddAttribute(const std::string& name, int value);
  ///@}
  ///@{
  /// Takes ownership; a null child is ignored.
  void AddElement(XMLElement* child);
  void AddElement(XMLString* child);
  ///@}

  XMLElement* Clone() const override;
  /// Written as <name .../> when it has no children and on one line when it
  /// holds only text (padding would change the text); otherwise each child
  /// on its own line, indented one level deeper.
  void ToStream(std::ostream& out, const ExportFormat& format, int depth) const override;

  /// The element's name.
  const std::string& GetName() const { return fName; }
  /// The value of attribute `name`; null when absent.
  const std::string* GetAttribute(const std::string& name) const;
  /// Every attribute, name and value, in the order added.
  const std::vector<std::pair<std::string, std::string>>& Attributes() const { return fAttributes; }
  /// The children in the order added.
  const std::vector<std::unique_ptr<XMLNode>>& Children() const { return fChildren; }
  /// First child element of that name, or null.
  const XMLElement* FindChild(const std::string& name) const;

 private:
  explicit XMLElement(std::string name) : fName(std::move(name)) {}
  std::string fName;
  std::vector<std::pair<std::string, std::string>> fAttributes;
  std::vector<std::unique_ptr<XMLNode>> fChildren;
};

/// <!DOCTYPE name SYSTEM "systemId">. The long is a reserved flag word kept
/// for the host interface; it does not change the output.
class XMLDocType {
 public:
  /// Created on the heap; the caller deletes it.
  static XMLDocType* Create(const std::string& name, const std::string& systemId, long flags);
  /// The XML declaration (when format.fDeclaration) and the document type,
  /// each on its own line: how a saved-object document begins.
  void Write(std::ostream& out, const ExportFormat& format = ExportFormat()) const;
  /// The document type declaration alone, without line end.
  std::string ToString() const;
  ///@{
  /// What Create was given.
  const std::string& GetName() const { return fName; }
  const std::string& GetSystemId() const { return fSystemId; }
  long GetFlags() const { return fFlags; }
  ///@}

 private:
  XMLDocType(std::string name, std::string systemId, long flags)
      : fName(std::move(name)), fSystemId(std::move(systemId)), fFlags(flags) {}
  std::string fName;
  std::string fSystemId;
  long fFlags;
};

/// Writes a whole document: the declaration (when format.fDeclaration and
/// withDeclaration), the document type when not null, then the tree.
/// Returns whether the stream is still good.
bool WriteTree(std::ostream& out, const XMLDocType* docType, const XMLElement& root,
               bool withDeclaration, const ExportFormat& format = ExportFormat());

///@{
/// The root element of a saved-object document (see XMLStream.h): its start
/// tag followed by a one-line comment holding notice, and its end tag.
bool StartRoot(std::ostream& out, const std::string& notice);
bool EndRoot(std::ostream& out);
///@}

/// A text helper shared by both writers:
/// & < > " ' and carriage return become references; bytes that are not XML 1.0
/// characters (control characters, invalid UTF-8) become U+FFFD, so that the
/// document stays well formed whatever a caller passes.
std::string EscapeXML(const std::string& text);
/// The shortest text, in fixed or exponent notation, that strtod reads back to
/// the same double: integers without a fraction ("3"), "1e+21", "0.1"; and
/// "NaN", "INF", "-INF" as XML Schema spells them.
std::string FormatDouble(double value);

}  // namespace VXXML_1_2
