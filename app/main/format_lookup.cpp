#include "format_lookup.h"

#include "catalogue/catalogue.h"

namespace vidmill {
namespace {

bool Same(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

std::optional<int> FormatIn(const TProfile& category, const QString& title) {
  for (int p = 0; p < category.Formats.size(); ++p) {
    if (Same(category.Formats[p].Title, title.trimmed())) return p;
  }
  return std::nullopt;
}

}  // namespace

QString ProfileNameOf(const TCatalogue& catalogue, TFormatIndex at) {
  const TFormat* f = catalogue.FormatAt(at);
  if (!f) return QString();
  return catalogue.Categories()[at.Category].Title + u'/' + f->Title;
}

std::optional<TFormatIndex> FindProfile(const TCatalogue& catalogue, const QString& name, QString* error) {
  const QVector<TProfile>& categories = catalogue.Categories();
  // The category part ends at a "/" whose left side names a category.
  for (qsizetype slash = name.indexOf(u'/'); slash >= 0; slash = name.indexOf(u'/', slash + 1)) {
    const QString left = name.left(slash).trimmed();
    for (int c = 0; c < categories.size(); ++c) {
      if (!Same(categories[c].Title, left) && !Same(categories[c].ID, left)) continue;
      if (const std::optional<int> p = FormatIn(categories[c], name.mid(slash + 1))) return TFormatIndex{c, *p};
    }
  }
  for (int c = 0; c < categories.size(); ++c) {
    if (const std::optional<int> p = FormatIn(categories[c], name)) return TFormatIndex{c, *p};
  }
  if (error) *error = QStringLiteral("No format \"%1\" in the catalogue.").arg(name);
  return std::nullopt;
}

QStringList ProfileNames(const TCatalogue& catalogue) {
  QStringList names;
  const QVector<TProfile>& categories = catalogue.Categories();
  for (int c = 0; c < categories.size(); ++c) {
    if (categories[c].ID == QLatin1String(kAllProfilesID) && categories[c].Title == QLatin1String(kAllProfilesTitle))
      continue;
    for (int p = 0; p < categories[c].Formats.size(); ++p) names << ProfileNameOf(catalogue, {c, p});
  }
  return names;
}

}  // namespace vidmill
