#pragma once

#include "KorString.h"
#include "Object.h"
#include "VarnetExport.h"

#include <cstddef>
#include <memory>

namespace Kor {

// A read-only XML element tree. After ReadFile() the section stands for the
// document; its one child is the root element. Copies share the tree, which
// lives as long as any section refers into it.
//
// The reader is meant for small configuration files and refuses, with false
// and a text in lastError():
// - files larger than s_maxFileSize (4 MiB) or with more than s_maxElements
//   elements, and elements nested deeper than s_maxDepth (64);
// - any document type declaration or entity declaration ("<!DOCTYPE",
//   "<!ENTITY"), even inside a comment or CDATA section, and any reference
//   to an entity other than the five predefined ones;
// - anything that is not well-formed XML, including empty and truncated files;
// - bytes that are not valid in the file's encoding, and a declared encoding
//   that contradicts the byte-order mark or the bytes, or is not supported.
//   Supported are UTF-8, ISO-8859-1 and US-ASCII, and UTF-16 with a
//   byte-order mark.
class VARNET_EXPORT Section : public Object
{
public:
    using Charset = String::Charset;

    // Assumed for a file that has neither a byte-order mark nor an encoding
    // in its XML declaration: UTF-8.
    static Charset s_defaultReadCharset;
    static const std::size_t s_maxFileSize;
    static const int s_maxDepth;
    static const int s_maxElements;

    Section(); // invalid and empty
    Section(const Section&);
    Section& operator=(const Section&);
    ~Section() override;

    // Replaces the content with the document in path (local 8-bit encoding).
    // keepWhitespace: when false, text runs made only of white space (the
    // indentation between elements) are dropped; other text always keeps its
    // blanks and line breaks. readCharset is the encoding assumed for a file
    // that declares none (Charset_UCS_2 meaning UTF-16 in host byte order);
    // textCharset is the encoding of names and getText(). On failure the
    // section is left invalid and empty.
    bool ReadFile(const char* path, bool keepWhitespace, Charset readCharset, Charset textCharset);

    // The first child element of that name (exact, with any prefix);
    // an invalid section when there is none or this one is invalid.
    Section operator[](const char* name) const;

    bool isValid() const;
    // The element's name; empty for the document and for an invalid section.
    String getName() const;
    // The element's own character data (text and CDATA, without that of child
    // elements), entities resolved; empty for an invalid section.
    String getText() const;
    std::size_t childCount() const;
    // Why the last ReadFile() failed; empty after success.
    String lastError() const;

    String toString() const override;      // the element name
    String toDebugString() const override; // name, text, children, validity
    void clearRef() override;              // releases the tree; invalid and empty

    struct Node;

private:
    explicit Section(std::shared_ptr<const Node> node);

    std::shared_ptr<const Node> m_node;
    String m_error;
};

} // namespace Kor
