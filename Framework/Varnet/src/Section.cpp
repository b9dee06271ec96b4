#include "Section.h"

#include "Platform.h"
#include "PlatformFiles.h"

#include <QFile>
#include <QString>
#include <QSysInfo>
#include <QXmlStreamReader>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Kor {

String::Charset Section::s_defaultReadCharset = String::Charset_UTF8;
const std::size_t Section::s_maxFileSize = 4 * 1024 * 1024;
const int Section::s_maxDepth = 64;
const int Section::s_maxElements = 100000;

struct Section::Node : ObjectData
{
    std::string name;
    std::string text;
    std::vector<std::shared_ptr<Node>> children;
};

namespace {

enum class Encoding { Ascii, Latin1, Utf8, Utf16LE, Utf16BE, Utf16Any, Unsupported };

struct ReadError
{
    QString text;
};

Encoding encodingNamed(std::string name)
{
    for (char& c : name)
        if (c >= 'a' && c <= 'z')
            c = char(c - 32);
    if (name == "UTF-8" || name == "UTF8")
        return Encoding::Utf8;
    if (name == "ISO-8859-1" || name == "ISO8859-1" || name == "ISO_8859-1" || name == "LATIN1"
        || name == "LATIN-1")
        return Encoding::Latin1;
    if (name == "US-ASCII" || name == "ASCII")
        return Encoding::Ascii;
    if (name == "UTF-16LE")
        return Encoding::Utf16LE;
    if (name == "UTF-16BE")
        return Encoding::Utf16BE;
    if (name == "UTF-16" || name == "UTF16" || name == "UCS-2")
        return Encoding::Utf16Any;
    return Encoding::Unsupported;
}

// The encoding named in an XML declaration at the start of head, if any.
std::optional<Encoding> declaredEncoding(std::string_view head)
{
    if (head.substr(0, 5) != "<?xml" || head.size() < 6 || !std::strchr(" \t\r\n", head[5]))
        return std::nullopt;
    const std::string_view decl = head.substr(0, head.find("?>"));
    std::size_t pos = decl.find("encoding");
    if (pos == std::string_view::npos)
        return std::nullopt;
    pos = decl.find_first_not_of(" \t\r\n", pos + 8);
    if (pos == std::string_view::npos || decl[pos] != '=')
        return std::nullopt; // malformed: the XML reader reports it
    pos = decl.find_first_not_of(" \t\r\n", pos + 1);
    if (pos == std::string_view::npos || (decl[pos] != '"' && decl[pos] != '\''))
        return std::nullopt;
    const std::size_t end = decl.find(decl[pos], pos + 1);
    if (end == std::string_view::npos)
        return std::nullopt;
    return encodingNamed(std::string(decl.substr(pos + 1, end - pos - 1)));
}

Encoding fromCharset(String::Charset charset)
{
    switch (charset) {
    case String::Charset_ASCII: return Encoding::Ascii;
    case String::Charset_Latin1: return Encoding::Latin1;
    case String::Charset_UCS_2:
        return QSysInfo::ByteOrder == QSysInfo::LittleEndian ? Encoding::Utf16LE : Encoding::Utf16BE;
    case String::Charset_UTF8:
    default: return Encoding::Utf8;
    }
}

// Decodes every byte or fails; nothing is replaced.
bool decodeStrict(std::string bytes, Encoding encoding, QString& text)
{
    String::Charset from = String::Charset_UTF8;
    const bool bigEndianHost = QSysInfo::ByteOrder == QSysInfo::BigEndian;
    if (encoding == Encoding::Utf16LE || encoding == Encoding::Utf16BE) {
        if ((encoding == Encoding::Utf16BE) != bigEndianHost)
            for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
                std::swap(bytes[i], bytes[i + 1]);
        from = String::Charset_UCS_2;
    } else if (encoding == Encoding::Ascii) {
        from = String::Charset_ASCII;
    } else if (encoding == Encoding::Latin1) {
        from = String::Charset_Latin1;
    }
    bool ok = false;
    const String utf16 = String::convertBuffer(bytes.data(), bytes.size(), String::Charset_UCS_2, from, '?',
                                               String::ConvertStop, &ok);
    if (!ok)
        return false;
    text = QString(qsizetype(utf16.size() / 2), Qt::Uninitialized);
    std::memcpy(text.data(), utf16.c_str(), utf16.size());
    return true;
}

bool agrees(Encoding declared, Encoding actual)
{
    if (declared == actual)
        return true;
    return declared == Encoding::Utf16Any && (actual == Encoding::Utf16LE || actual == Encoding::Utf16BE);
}

// Chooses the encoding from the byte-order mark, the declaration or the
// assumption, in that order, and decodes the file with it.
std::optional<ReadError> decodeFile(const QByteArray& file, String::Charset assumed, QString& text)
{
    std::string_view bytes(file.constData(), std::size_t(file.size()));
    std::optional<Encoding> bom;
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF")
        bom = Encoding::Utf8;
    else if (bytes.substr(0, 2) == "\xFF\xFE")
        bom = Encoding::Utf16LE;
    else if (bytes.substr(0, 2) == "\xFE\xFF")
        bom = Encoding::Utf16BE;
    Encoding encoding = bom ? *bom : fromCharset(assumed);
    if (bom) {
        bytes.remove_prefix(*bom == Encoding::Utf8 ? 3 : 2);
    } else if (const auto declared = declaredEncoding(bytes)) {
        // The declaration could be read byte by byte, so the file is in an
        // ASCII-compatible encoding.
        if (*declared == Encoding::Unsupported)
            return ReadError{QStringLiteral("unsupported encoding declared")};
        if (*declared == Encoding::Utf16Any || *declared == Encoding::Utf16LE || *declared == Encoding::Utf16BE)
            return ReadError{QStringLiteral("UTF-16 declared for a file without byte-order mark")};
        encoding = *declared;
    }
    if (!decodeStrict(std::string(bytes), encoding, text))
        return ReadError{QStringLiteral("bytes do not match the file's encoding")};
    if (bom) {
        const QByteArray head = text.left(256).toLatin1();
        const auto declared = declaredEncoding(std::string_view(head.constData(), std::size_t(head.size())));
        if (declared && !agrees(*declared, *bom))
            return ReadError{QStringLiteral("declared encoding contradicts the byte-order mark")};
    }
    return std::nullopt;
}

std::optional<ReadError> readBytes(const char* path, QByteArray& bytes)
{
    if (!path || !*path)
        return ReadError{QStringLiteral("no file name")};
    std::string content;
    int error = 0;
    if (Platform::readWholeFile(path, Section::s_maxFileSize, content, error)) {
        bytes = QByteArray::fromStdString(content);
        return std::nullopt;
    }
    if (error == ENOENT || error == ENOTDIR || error == Platform::NotARegularFile)
        return ReadError{QStringLiteral("not a file: ") + QFile::decodeName(path)};
    if (error == EFBIG)
        return ReadError{QStringLiteral("file larger than %1 bytes").arg(Section::s_maxFileSize)};
    return ReadError{QString::fromStdString(Platform::errorText(error))};
}

std::string inCharset(const QString& text, String::Charset charset)
{
    return String::convertBuffer(text.utf16(), std::size_t(text.size()) * 2, charset, String::Charset_UCS_2, '?')
        .str();
}

class TreeBuilder
{
public:
    TreeBuilder(bool keepWhitespace, String::Charset charset)
        : m_keepWhitespace(keepWhitespace), m_charset(charset), m_root(std::make_shared<Section::Node>())
    {
        m_stack.push_back({m_root.get(), QString()});
    }

    std::optional<ReadError> build(const QString& text);
    std::shared_ptr<Section::Node> root() const { return m_root; }

private:
    std::optional<ReadError> token(QXmlStreamReader& xml);
    std::optional<ReadError> startElement(QXmlStreamReader& xml);
    void endElement();

    struct Open
    {
        Section::Node* node;
        QString text;
    };
    bool m_keepWhitespace;
    String::Charset m_charset;
    std::shared_ptr<Section::Node> m_root;
    std::vector<Open> m_stack;
    int m_elements = 0;
};

std::optional<ReadError> TreeBuilder::build(const QString& text)
{
    // Refused before parsing: a document type declaration can carry entity
    // definitions whose expansion grows without bound.
    if (text.contains(QLatin1String("<!DOCTYPE")) || text.contains(QLatin1String("<!ENTITY")))
        return ReadError{QStringLiteral("document type and entity declarations are not accepted")};
    QXmlStreamReader xml(text);
    xml.setNamespaceProcessing(false);
    while (!xml.atEnd()) {
        xml.readNext();
        if (auto error = token(xml))
            return ReadError{QStringLiteral("line %1: %2").arg(xml.lineNumber()).arg(error->text)};
    }
    if (xml.hasError())
        return ReadError{QStringLiteral("line %1: %2").arg(xml.lineNumber()).arg(xml.errorString())};
    if (m_root->children.empty())
        return ReadError{QStringLiteral("no root element")};
    return std::nullopt;
}

std::optional<ReadError> TreeBuilder::token(QXmlStreamReader& xml)
{
    switch (xml.tokenType()) {
    case QXmlStreamReader::StartElement:
        return startElement(xml);
    case QXmlStreamReader::EndElement:
        endElement();
        break;
    case QXmlStreamReader::Characters:
        if (m_stack.size() > 1 && (m_keepWhitespace || !xml.isWhitespace() || xml.isCDATA()))
            m_stack.back().text += xml.text();
        break;
    case QXmlStreamReader::DTD:
        return ReadError{QStringLiteral("document type declarations are not accepted")};
    case QXmlStreamReader::EntityReference:
        return ReadError{QStringLiteral("entity references are not accepted")};
    default:
        break;
    }
    return std::nullopt;
}

std::optional<ReadError> TreeBuilder::startElement(QXmlStreamReader& xml)
{
    if (m_stack.size() > std::size_t(Section::s_maxDepth))
        return ReadError{QStringLiteral("elements nested deeper than %1").arg(Section::s_maxDepth)};
    if (++m_elements > Section::s_maxElements)
        return ReadError{QStringLiteral("more than %1 elements").arg(Section::s_maxElements)};
    auto child = std::make_shared<Section::Node>();
    child->name = inCharset(xml.qualifiedName().toString(), m_charset);
    m_stack.back().node->children.push_back(child);
    m_stack.push_back({child.get(), QString()});
    return std::nullopt;
}

void TreeBuilder::endElement()
{
    if (m_stack.size() <= 1)
        return;
    m_stack.back().node->text = inCharset(m_stack.back().text, m_charset);
    m_stack.pop_back();
}

} // namespace

Section::Section() = default;
Section::Section(const Section&) = default;
Section& Section::operator=(const Section&) = default;
Section::~Section() = default;

Section::Section(std::shared_ptr<const Node> node) : m_node(std::move(node)) {}

bool Section::ReadFile(const char* path, bool keepWhitespace, Charset readCharset, Charset textCharset)
{
    clearRef();
    QByteArray bytes;
    QString text;
    std::optional<ReadError> error = readBytes(path, bytes);
    if (!error)
        error = decodeFile(bytes, readCharset, text);
    bytes = QByteArray();
    TreeBuilder builder(keepWhitespace, textCharset);
    if (!error)
        error = builder.build(text);
    if (error) {
        m_error = String(error->text.toUtf8().toStdString());
        return false;
    }
    m_node = builder.root();
    return true;
}

Section Section::operator[](const char* name) const
{
    if (!m_node || !name)
        return Section();
    for (const auto& child : m_node->children)
        if (child->name == name)
            return Section(child);
    return Section();
}

bool Section::isValid() const
{
    return m_node != nullptr;
}

String Section::getName() const
{
    return m_node ? String(m_node->name) : String();
}

String Section::getText() const
{
    return m_node ? String(m_node->text) : String();
}

std::size_t Section::childCount() const
{
    return m_node ? m_node->children.size() : 0;
}

String Section::lastError() const
{
    return m_error;
}

String Section::toString() const
{
    return getName();
}

String Section::toDebugString() const
{
    if (!m_node)
        return String("Section (invalid)");
    std::string text = m_node->text.substr(0, 40);
    if (m_node->text.size() > 40)
        text += "...";
    return String("Section \"" + m_node->name + "\", " + std::to_string(m_node->children.size())
                  + " children, text \"" + text + "\"");
}

void Section::clearRef()
{
    m_node.reset();
    m_error = String();
}

} // namespace Kor
