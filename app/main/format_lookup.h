// Naming a catalogue format as text: "CATEGORY/FORMAT", as the command line
// takes it (e.g. "Phones and Tablets/Phone H.264 720p").
#pragma once

#include <optional>

#include <QString>
#include <QStringList>

#include "catalogue/profile_types.h"

namespace vidmill {

class TCatalogue;

// "Category title/Format title" of an existing format; "" when none.
QString ProfileNameOf(const TCatalogue& catalogue, TFormatIndex at);

// The format named "CATEGORY/FORMAT": the category by its title or ID, the
// format by its title, both without regard to case. A name without a
// category part is looked for in every category. Nothing, with the reason in
// *error, when no format has the name.
std::optional<TFormatIndex> FindProfile(const TCatalogue& catalogue, const QString& name, QString* error);

// Every format's name, category by category ("All Profiles" left out).
QStringList ProfileNames(const TCatalogue& catalogue);

}  // namespace vidmill
