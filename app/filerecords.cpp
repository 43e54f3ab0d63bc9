#include "app/filerecords.h"

#include "platform/textcodec.h"

#include <QStringList>
#include <optional>

namespace morvik {

QString utf8Text(const std::string& utf8)
{
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string utf8Bytes(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    return std::string(utf8.constData(), static_cast<std::size_t>(utf8.size()));
}

QString shownFileName(const std::string& nameBytes)
{
    const std::optional<std::string> text = fileNameToUtf8(nameBytes);
    return utf8Text(text ? *text : nameBytes);
}

QString shownPath(const std::string& pathBytes)
{
    QStringList names;
    std::size_t start = 0;
    while (true) {
        const std::size_t slash = pathBytes.find('/', start);
        names << shownFileName(pathBytes.substr(start, slash - start));
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    return names.join(QLatin1Char('/'));
}

// Bytes that are not CP932 show as U+FFFD and the 0x00 padding of a field
// (a short year keeps it) is not shown; the record keeps the bytes, so such
// a field is written back unchanged.
TTagText tagText(const id3::TTagField& field)
{
    return TTagText{field.bytes, utf8Text(id3TextToUtf8(field.encoding, id3::firstString(field))), field.encoding};
}

TTagText tagText(const std::string& bytes) { return tagText(id3::TTagField{0, bytes}); }

TFileList readFileRecord(TMP3id& reader, const std::string& path)
{
    reader.Open(path, 0);
    const bool hasTag = reader.ReadTag();
    reader.Close();

    TFileList record;
    record.HasTag = hasTag ? 1 : 0;
    record.View = reader.View();
    record.Path = path;
    const id3::TTagFields fields = reader.Fields();
    for (std::size_t field = 0; field < record.Texts.size(); ++field)
        record.Texts[field] = tagText(fields[field]);
    record.TagPosition = reader.TagPosition();
    return record;
}

} // namespace morvik
