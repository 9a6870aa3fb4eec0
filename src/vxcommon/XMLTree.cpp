#include "vxcommon/XMLTree.h"

#include <charconv>
#include <cmath>
#include <ostream>
#include <sstream>

#include "XmlText.h"
#include "vxcommon/XMLStream.h"

namespace VXXML_1_2 {

namespace {

constexpr const char* kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";

std::string Padding(const ExportFormat& format, int depth) {
  if (!format.fNewLines || depth <= 0 || format.fIndent <= 0) return std::string();
  return std::string(static_cast<std::size_t>(depth) * static_cast<std::size_t>(format.fIndent),
                     ' ');
}

const char* LineEnd(const ExportFormat& format) { return format.fNewLines ? "\n" : ""; }

}  // namespace

std::string XMLNode::ToString(const ExportFormat& format) const {
  std::ostringstream out;
  ToStream(out, format, 0);
  return out.str();
}

XMLString* XMLString::Create(const std::string& text) { return new XMLString(text); }

XMLString* XMLString::Clone() const { return new XMLString(fText); }

void XMLString::ToStream(std::ostream& out, const ExportFormat&, int) const {
  out << detail::EscapeText(fText);
}

XMLElement* XMLElement::Create(const std::string& name) { return new XMLElement(name); }

XMLElement::~XMLElement() = default;

void XMLElement::AddAttribute(const std::string& name, const std::string& value) {
  for (auto& attribute : fAttributes) {
    if (attribute.first == name) {
      attribute.second = value;
      return;
    }
  }
  fAttributes.emplace_back(name, value);
}

void XMLElement::AddAttribute(const std::string& name, const char* value) {
  AddAttribute(name, std::string(value != nullptr ? value : ""));
}

void XMLElement::AddAttribute(const std::string& name, double value) {
  AddAttribute(name, FormatDouble(value));
}

void XMLElement::AddAttribute(const std::string& name, int value) {
  AddAttribute(name, std::to_string(value));
}

void XMLElement::AddElement(XMLElement* child) {
  if (child != nullptr) fChildren.emplace_back(child);
}

void XMLElement::AddElement(XMLString* child) {
  if (child != nullptr) fChildren.emplace_back(child);
}

XMLElement* XMLElement::Clone() const {
  std::unique_ptr<XMLElement> copy(new XMLElement(fName));
  copy->fAttributes = fAttributes;
  copy->fChildren.reserve(fChildren.size());
  for (const auto& child : fChildren) copy->fChildren.emplace_back(child->Clone());
  return copy.release();
}

void XMLElement::ToStream(std::ostream& out, const ExportFormat& format, int depth) const {
  const std::string pad = Padding(format, depth);
  const char* lineEnd = LineEnd(format);
  out << pad << '<' << fName;
  for (const auto& attribute : fAttributes)
    out << ' ' << attribute.first << "=\"" << detail::EscapeAttribute(attribute.second) << '"';
  if (fChildren.empty()) {
    out << "/>" << lineEnd;
    return;
  }
  bool hasElements = false;
  for (const auto& child : fChildren)
    if (dynamic_cast<const XMLElement*>(child.get()) != nullptr) hasElements = true;
  // Text alone stays on the element's line: padding it would change it.
  if (!hasElements) {
    out << '>';
    for (const auto& child : fChildren) child->ToStream(out, format, depth + 1);
    out << "</" << fName << '>' << lineEnd;
    return;
  }
  out << '>' << lineEnd;
  const std::string childPad = Padding(format, depth + 1);
  for (const auto& child : fChildren) {
    if (dynamic_cast<const XMLElement*>(child.get()) != nullptr) {
      child->ToStream(out, format, depth + 1);
    } else {
      out << childPad;
      child->ToStream(out, format, depth + 1);
      out << lineEnd;
    }
  }
  out << pad << "</" << fName << '>' << lineEnd;
}

const std::string* XMLElement::GetAttribute(const std::string& name) const {
  for (const auto& attribute : fAttributes)
    if (attribute.first == name) return &attribute.second;
  return nullptr;
}

const XMLElement* XMLElement::FindChild(const std::string& name) const {
  for (const auto& child : fChildren) {
    const auto* element = dynamic_cast<const XMLElement*>(child.get());
    if (element != nullptr && element->fName == name) return element;
  }
  return nullptr;
}

XMLDocType* XMLDocType::Create(const std::string& name, const std::string& systemId, long flags) {
  return new XMLDocType(name, systemId, flags);
}

std::string XMLDocType::ToString() const {
  // A system literal cannot hold its own quote character; the other one
  // serves when the identifier holds a double quote.
  const char quote = fSystemId.find('"') == std::string::npos ? '"' : '\'';
  return "<!DOCTYPE " + fName + " SYSTEM " + quote + fSystemId + quote + ">";
}

void XMLDocType::Write(std::ostream& out, const ExportFormat& format) const {
  const char* lineEnd = LineEnd(format);
  if (format.fDeclaration) out << kDeclaration << lineEnd;
  out << ToString() << lineEnd;
}

bool WriteTree(std::ostream& out, const XMLDocType* docType, const XMLElement& root,
               bool withDeclaration, const ExportFormat& format) {
  const char* lineEnd = LineEnd(format);
  if (format.fDeclaration && withDeclaration) out << kDeclaration << lineEnd;
  if (docType != nullptr) out << docType->ToString() << lineEnd;
  root.ToStream(out, format, 0);
  return out.good();
}

bool StartRoot(std::ostream& out, const std::string& notice) {
  out << '<' << kRootName << ">\n<!-- " << detail::CommentText(notice) << " -->\n";
  return out.good();
}

bool EndRoot(std::ostream& out) {
  out << "</" << kRootName << ">\n";
  return out.good();
}

std::string EscapeXML(const std::string& text) { return detail::EscapeText(text); }

std::string FormatDouble(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

}  // namespace VXXML_1_2
