#include "catalogue_sources.h"

#include <cmath>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>

#include "catalogue/formats_file.h"
#include "catalogue/list_syntax.h"

namespace vidmill::catalogue_gen {
namespace {

const QStringList kValueLabelKeys = {"frame_rates", "video_bitrates", "audio_bitrates",
                                     "sample_rates", "channels", "video_codecs", "audio_codecs"};

class TProblems {
 public:
  explicit TProblems(QStringList& errors) : errors_(errors) {}
  void Add(const QString& where, const QString& what) { errors_.append(where + ": " + what); }

 private:
  QStringList& errors_;
};

bool ReadJson(const QString& path, QJsonObject& out, TProblems& problems) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    problems.Add(path, file.errorString());
    return false;
  }
  QJsonParseError error{};
  const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
  if (error.error != QJsonParseError::NoError || !doc.isObject()) {
    problems.Add(path, QStringLiteral("not a JSON object (%1 at offset %2)")
                           .arg(error.errorString())
                           .arg(error.offset));
    return false;
  }
  out = doc.object();
  return true;
}

// A scalar as the data file writes it: strings as they are, numbers in decimal.
bool ScalarText(const QJsonValue& v, QString& out) {
  if (v.isString()) {
    out = v.toString();
    return true;
  }
  if (v.isDouble()) {
    const double d = v.toDouble();
    out = d == std::floor(d) ? QString::number(static_cast<qint64>(d)) : QString::number(d);
    return true;
  }
  return false;
}

bool HasForbidden(const QString& text) {
  return text.contains(u'"') || text.contains(u'\n') || text.contains(u'\r');
}

// The text of one attribute from its JSON form; "" with a problem on error.
QString AttributeText(const QString& key, const QJsonValue& v, const QString& where, TProblems& problems) {
  QString text;
  if (kValueLabelKeys.contains(key)) {
    QStringList items;
    for (const QJsonValue& pair : v.toArray()) {
      const QJsonArray p = pair.toArray();
      QString value, label;
      if (p.size() != 2 || !ScalarText(p[0], value) || !ScalarText(p[1], label)) {
        problems.Add(where, key + ": every item must be [value, label]");
        continue;
      }
      if (value.contains(u',') || value.contains(u'$') || label.contains(u',') || label.contains(u'$')) {
        problems.Add(where, key + ": \",\" and \"$\" cannot appear in an item: " + value + " / " + label);
      }
      items.append(value + "$" + label);
    }
    if (!v.isArray()) problems.Add(where, key + " must be a list of [value, label] pairs");
    text = items.join(u',');
  } else if (key == "resolutions") {
    QStringList items;
    for (const QJsonValue& r : v.toArray()) {
      const QString item = r.toString();
      if (ResolutionWidth(item) == "-1" || ResolutionHeight(item) == "-1") {
        problems.Add(where, "resolution \"" + item + "\" is not WIDTH*HEIGHT");
      }
      items.append(item);
    }
    if (!v.isArray()) problems.Add(where, "resolutions must be a list of \"W*H\" texts");
    text = items.join(u',');
  } else if (key == "extra_param") {
    QStringList lines;
    for (const QJsonValue& l : v.toArray()) lines.append(l.toString());
    if (!v.isArray()) problems.Add(where, "extra_param must be a list of option lines");
    text = lines.join(QStringLiteral("<CRLF>"));
  } else if (!ScalarText(v, text)) {
    problems.Add(where, key + " must be a text or a number");
  }
  if (HasForbidden(text)) problems.Add(where, key + " holds a double quote or a line break");
  return text;
}

void CheckChoice(const QStringList& f, const QStringList& keys, const QString& value_key,
                 const QString& list_key, const QString& where, TProblems& problems) {
  const QString value = f[keys.indexOf(value_key)];
  const QStringList values = ValuesOf(f[keys.indexOf(list_key)]);
  if (!values.contains(value)) {
    problems.Add(where, value_key + " \"" + value + "\" is not among the values of " + list_key);
  }
}

void CheckFormat(const QStringList& f, const QSet<QString>& icons, const QString& where, TProblems& problems) {
  const QStringList& keys = FormatKeys();
  auto field = [&](const char* key) { return f[keys.indexOf(QLatin1String(key))]; };
  if (!field("format_ext").startsWith(u'.')) problems.Add(where, "format_ext must start with \".\"");
  if (!icons.contains(field("icon"))) problems.Add(where, "icon \"" + field("icon") + "\" is not in icons.json");
  if (field("name").isEmpty()) problems.Add(where, "name is empty");
  const QString audio_only = field("audio_format");
  if (audio_only != "0" && audio_only != "1") problems.Add(where, "audio_format must be 0 or 1");
  if (audio_only == "0") {
    const int w = field("width").toInt();
    const int h = field("height").toInt();
    if (w < 64 || w > 1920 || h < 64 || h > 1280 || w % 2 || h % 2) {
      problems.Add(where, "width and height must be even, from 64*64 to 1920*1280");
    }
    if (!LabelsOf(field("resolutions")).contains(field("width") + "*" + field("height"))) {
      problems.Add(where, "width*height is not among the resolutions");
    }
    CheckChoice(f, keys, "video_codec_name", "video_codecs", where, problems);
    CheckChoice(f, keys, "frame_rate", "frame_rates", where, problems);
    CheckChoice(f, keys, "video_bitrate", "video_bitrates", where, problems);
  }
  if (!field("audio_codec_name").isEmpty()) {
    CheckChoice(f, keys, "audio_codec_name", "audio_codecs", where, problems);
    CheckChoice(f, keys, "sample_rate", "sample_rates", where, problems);
    CheckChoice(f, keys, "audio_bitrate", "audio_bitrates", where, problems);
    CheckChoice(f, keys, "channel", "channels", where, problems);
  }
  for (const char* number : {"frame_rate", "video_bitrate", "sample_rate", "audio_bitrate", "channel"}) {
    if (!field(number).isEmpty() && !IsDecimalInteger(field(number))) {
      problems.Add(where, QLatin1String(number) + " must be a decimal integer");
    }
  }
}

void ReadFormatsOf(const QString& path, const TCategorySpec& category, const QSet<QString>& icons,
                   TSources& out, TProblems& problems) {
  QJsonObject doc;
  if (!ReadJson(path, doc, problems)) return;
  const QJsonObject defaults = doc.value("defaults").toObject();
  const QJsonArray formats = doc.value("formats").toArray();
  if (formats.isEmpty()) problems.Add(path, "no formats");
  const QStringList& keys = FormatKeys();
  for (qsizetype i = 0; i < formats.size(); ++i) {
    QJsonObject merged = defaults;
    const QJsonObject own = formats[i].toObject();
    for (auto it = own.begin(); it != own.end(); ++it) merged.insert(it.key(), it.value());
    const QString where = QStringLiteral("%1, format %2 \"%3\"").arg(path).arg(i + 1).arg(merged.value("name").toString());
    for (auto it = merged.begin(); it != merged.end(); ++it) {
      if (!keys.contains(it.key()) || it.key() == "id") problems.Add(where, "unknown key \"" + it.key() + "\"");
    }
    QStringList values;
    for (const QString& key : keys) {
      if (key == "id") {
        values.append(category.ID);
      } else if (!merged.contains(key)) {
        problems.Add(where, "missing key \"" + key + "\"");
        values.append(QString());
      } else {
        values.append(AttributeText(key, merged.value(key), where, problems));
      }
    }
    CheckFormat(values, icons, where, problems);
    out.Formats.append(values);
  }
}

bool ReadIcons(const QString& folder, TSources& out, TProblems& problems) {
  QJsonObject doc;
  const QString path = QDir(folder).filePath("icons.json");
  if (!ReadJson(path, doc, problems)) return false;
  QSet<QString> seen;
  for (const QJsonValue& v : doc.value("icons").toArray()) {
    const QJsonObject o = v.toObject();
    TIconSpec icon{o.value("name").toString(), o.value("size").toInt(32), o.value("shape").toString(),
                   o.value("color").toString(), o.value("label").toString()};
    if (icon.Name.isEmpty() || seen.contains(icon.Name.toLower())) {
      problems.Add(path, "icon names must be present and unique: \"" + icon.Name + "\"");
    }
    seen.insert(icon.Name.toLower());
    out.Icons.append(icon);
  }
  if (!seen.contains("menuall")) problems.Add(path, "the icon \"menuall\" of \"All Profiles\" is missing");
  return true;
}

}  // namespace

bool ReadSources(const QString& folder, TSources& out, QStringList& errors) {
  TProblems problems(errors);
  ReadIcons(folder, out, problems);
  QSet<QString> icons;
  for (const TIconSpec& icon : out.Icons) icons.insert(icon.Name);

  QJsonObject doc;
  const QString path = QDir(folder).filePath("profiles.json");
  if (!ReadJson(path, doc, problems)) return false;
  out.ChooserHeight = doc.value("chooser_height").toInt();
  if (out.ChooserHeight <= 0) problems.Add(path, "chooser_height must be a positive number");
  QSet<QString> ids;
  for (const QJsonValue& v : doc.value("categories").toArray()) {
    const QJsonObject o = v.toObject();
    TCategorySpec category{o.value("id").toString(), o.value("title").toString(), o.value("icon").toString()};
    const QString where = path + ", category \"" + category.ID + "\"";
    if (category.ID.isEmpty() || category.ID == "0" || ids.contains(category.ID)) {
      problems.Add(where, "ids must be present, unique and not \"0\" (the id of \"All Profiles\")");
    }
    if (!icons.contains(category.Icon)) problems.Add(where, "icon \"" + category.Icon + "\" is not in icons.json");
    if (HasForbidden(category.ID + category.Title + category.Icon)) problems.Add(where, "a double quote or line break");
    ids.insert(category.ID);
    out.Categories.append(category);
    ReadFormatsOf(QDir(folder).filePath(o.value("formats").toString()), category, icons, out, problems);
  }
  return errors.isEmpty();
}

QByteArray ProfilesText(const TSources& sources) {
  QString text = QStringLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n");
  text += QStringLiteral("<profile height=\"%1\">\n").arg(sources.ChooserHeight);
  text += QStringLiteral("<categories>\n");
  for (const TCategorySpec& c : sources.Categories) {
    text += QStringLiteral("<category id=\"%1\" title=\"%2\" icon=\"%3\"/>\n").arg(c.ID, c.Title, c.Icon);
  }
  text += QStringLiteral("</categories>\n</profile>\n");
  return text.toUtf8();
}

// Each format line begins with id and has name before the codec names, so
// the reader's first-occurrence search finds the right attributes.
QByteArray FormatsText(const TSources& sources) {
  const QStringList& keys = FormatKeys();
  const qsizetype id_at = keys.indexOf("id");
  QString text = QStringLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<vidmill-catalogue>\n<formats>\n");
  for (const QStringList& f : sources.Formats) {
    QString line = QStringLiteral("<format id=\"%1\"").arg(f[id_at]);
    for (qsizetype i = 0; i < keys.size(); ++i) {
      if (i != id_at) line += QStringLiteral(" %1=\"%2\"").arg(keys[i], f[i]);
    }
    text += line + QStringLiteral("/>\n");
  }
  text += QStringLiteral("</formats>\n</vidmill-catalogue>\n");
  return text.toUtf8();
}

}  // namespace vidmill::catalogue_gen
