// The catalogue read from hand-made data folders: well-formed ones field by
// field, and every kind of damage giving its result or its "CLM_" report.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QStringEncoder>

#include "catalogue/catalogue.h"
#include "catalogue/formats_file.h"
#include "catalogue_fixture.h"

using namespace vidmill;
using vidmill::testing::FormatLine;
using vidmill::testing::TCatalogueFolder;
using vidmill::testing::TRecordingSink;

namespace {

QStringList TitlesOf(const TProfile& p) {
  QStringList titles;
  for (const TFormat& f : p.Formats) titles.append(f.Title);
  return titles;
}

QStringList CategoryTitles(const TCatalogue& c) {
  QStringList titles;
  for (const TProfile& p : c.Categories()) titles.append(p.Title);
  return titles;
}

const QStringList kTwoCategories = {
    R"(<category id="phones" title="Phones" icon="menuphone"/>)",
    R"(  <category id="audio" title="Audio" icon="menuaudio"/>  )",
};

}  // namespace

TEST(CatalogueFiles, WellFormedCatalogueReadsBackFieldByField) {
  TCatalogueFolder folder;
  folder.WriteProfiles(kTwoCategories, 312);
  folder.WriteFormats({FormatLine("phones", "P1"), FormatLine("audio", "A1"), FormatLine("phones", "P2")});
  folder.WriteIcon("menuall.bmp");
  TRecordingSink sink;
  TCatalogue catalogue(sink);
  catalogue.Load(folder.Path());

  EXPECT_TRUE(sink.reports.isEmpty());
  EXPECT_TRUE(sink.events.isEmpty());
  EXPECT_EQ(catalogue.ChooserHeight(), 312);
  ASSERT_EQ(CategoryTitles(catalogue), (QStringList{"Phones", "Audio", "All Profiles"}));
  const TProfile& phones = catalogue.Categories()[0];
  EXPECT_EQ(phones.ID, "phones");
  EXPECT_EQ(phones.Icon, "menuphone");
  const TProfile& all = catalogue.Categories()[2];
  EXPECT_EQ(all.ID, "0");
  EXPECT_EQ(all.Icon, "menuall");
  EXPECT_EQ(TitlesOf(phones), (QStringList{"P1", "P2"}));
  EXPECT_EQ(TitlesOf(catalogue.Categories()[1]), (QStringList{"A1"}));
  EXPECT_EQ(TitlesOf(all), (QStringList{"P1", "A1", "P2"}));

  // Every one of the 25 fields lands in its own member.
  const TFormat& p2 = phones.Formats[1];
  const QStringList values = FormatFieldValues(p2);
  const QStringList& keys = FormatKeys();
  ASSERT_EQ(values.size(), 25);
  for (qsizetype i = 0; i < keys.size(); ++i) {
    if (keys[i] == "id") {
      EXPECT_EQ(values[i], "phones");
    } else if (keys[i] == "name") {
      EXPECT_EQ(values[i], "P2");
    } else {
      EXPECT_EQ(values[i], keys[i] + "-of-P2") << keys[i].toStdString();
    }
  }
  EXPECT_EQ(p2.VideoCodecName, "video_codec_name-of-P2");
  EXPECT_EQ(p2.FrameRate, "frame_rate-of-P2");
  EXPECT_EQ(p2.KeepOriFrameRate, "keep_ori_frame_rate-of-P2");
  EXPECT_EQ(catalogue.Current(), (TFormatIndex{0, 0}));
  EXPECT_FALSE(catalogue.IsEmpty());
}

TEST(CatalogueFiles, AttributeSearchRules) {
  struct Case {
    const char* what;
    QString line;
    QString TFormat::*field;
    QString expected;
  };
  const Case cases[] = {
      {"name before the codec names", R"(<format id="x" name="Foo" video_codec_name="libx264" audio_codec_name="aac"/>)",
       &TFormat::Title, "Foo"},
      {"codec name after name", R"(<format id="x" name="Foo" video_codec_name="libx264" audio_codec_name="aac"/>)",
       &TFormat::VideoCodecName, "libx264"},
      {"keep_ori_frame_rate", R"(<format id="x" keep_ori_frame_rate="1" frame_rate="25000"/>)",
       &TFormat::KeepOriFrameRate, "1"},
      {"frame_rate after keep_ori_frame_rate", R"(<format id="x" keep_ori_frame_rate="1" frame_rate="25000"/>)",
       &TFormat::FrameRate, "25000"},
      {"empty value", R"(<format id="x" name="" icon="i"/>)", &TFormat::Title, ""},
      {"missing key", R"(<format id="x" name="n"/>)", &TFormat::Description, ""},
      {"value cut off before its quote", R"(<format id="x" name="n" description="half a descr)",
       &TFormat::Description, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseFormatLine(c.line).*c.field, c.expected) << c.what;
  }
}

TEST(CatalogueFiles, FormatLineRange) {
  struct Case {
    int lines;
    int formats;
  };
  for (const Case c : {Case{0, 0}, Case{1, 0}, Case{5, 0}, Case{6, 1}, Case{7, 2}}) {
    TCatalogueFolder folder;
    QStringList lines;
    for (int i = 0; i < c.lines; ++i) lines.append(FormatLine("x", QString::number(i)));
    folder.WriteFormatsText(lines.join("\r\n").toUtf8());
    QVector<TFormat> formats;
    QString reason;
    const bool ok = ReadFormatsFile(folder.FilePath("Formats.dat"), formats, reason);
    EXPECT_EQ(ok, c.lines > 0) << c.lines << " lines";
    ASSERT_EQ(formats.size(), c.formats) << c.lines << " lines";
    // The first format is the line with index 3.
    if (c.formats > 0) {
      EXPECT_EQ(formats[0].Title, "3");
    }
  }
}

TEST(CatalogueFiles, FormatsTextWithByteOrderMarks) {
  const QString text = "h0\nh1\nh2\n" + FormatLine("x", QString::fromUtf8("Téléphone ✓")) + "\nf0\nf1\n";
  for (auto encoding : {QStringConverter::Utf8, QStringConverter::Utf16LE, QStringConverter::Utf16BE}) {
    QStringEncoder encoder(encoding, QStringConverter::Flag::WriteBom);
    const QByteArray plain = encoder.encode(text);
    TCatalogueFolder folder;
    folder.WriteFormatsText(plain);
    QVector<TFormat> formats;
    QString reason;
    ASSERT_TRUE(ReadFormatsFile(folder.FilePath("Formats.dat"), formats, reason));
    ASSERT_EQ(formats.size(), 1);
    EXPECT_EQ(formats[0].Title, QString::fromUtf8("Téléphone ✓"));
  }
}

TEST(CatalogueFiles, DamagedFilesGiveTheirReportsAndNeverCrash) {
  struct Case {
    const char* what;
    std::function<void(TCatalogueFolder&)> make;
    QStringList marks;
    QStringList categories;
    int all_formats;
  };
  const QStringList good_formats = {FormatLine("phones", "P1"), FormatLine("audio", "A1")};
  const Case cases[] = {
      {"missing Profiles.dat",
       [&](TCatalogueFolder& f) { f.WriteFormats(good_formats); },
       {"CLM_LoadProfiles"}, {"All Profiles"}, 2},
      {"empty Profiles.dat",
       [&](TCatalogueFolder& f) { f.WriteRaw("Profiles.dat", ""); f.WriteFormats(good_formats); },
       {"CLM_LoadProfiles"}, {"All Profiles"}, 2},
      {"chooser height not a number",
       [&](TCatalogueFolder& f) { f.WriteRaw("Profiles.dat", "a\n<profile height=\"tall\">\nb\n" +
                                              kTwoCategories[0].toUtf8() + "\n</profile>\n");
                                  f.WriteFormats(good_formats); },
       {"CLM_LoadProfiles"}, {"All Profiles"}, 2},
      {"Profiles.dat cut off inside a category line",
       [&](TCatalogueFolder& f) {
         f.WriteProfiles({kTwoCategories[0], R"(<category id="aud)"}, 470, false);
         f.WriteFormats(good_formats); },
       {"CLM_LoadProfiles"}, {"Phones", "", "All Profiles"}, 2},
      {"missing Formats.dat",
       [&](TCatalogueFolder& f) { f.WriteProfiles(kTwoCategories); },
       {"CLM_LoadFormats"}, {"Phones", "Audio", "All Profiles"}, 0},
      {"empty Formats.dat",
       [&](TCatalogueFolder& f) { f.WriteProfiles(kTwoCategories); f.WriteRaw("Formats.dat", ""); },
       {"CLM_LoadFormats"}, {"Phones", "Audio", "All Profiles"}, 0},
      {"both files missing",
       [&](TCatalogueFolder&) {},
       {"CLM_LoadProfiles", "CLM_LoadFormats"}, {"All Profiles"}, 0},
  };
  for (const Case& c : cases) {
    TCatalogueFolder folder;
    c.make(folder);
    TRecordingSink sink;
    TCatalogue catalogue(sink);
    catalogue.Load(folder.Path());
    EXPECT_EQ(sink.Marks(), c.marks) << c.what;
    EXPECT_EQ(CategoryTitles(catalogue), c.categories) << c.what;
    EXPECT_EQ(catalogue.Categories().last().Formats.size(), c.all_formats) << c.what;
    // A reason for the maker accompanies each report in the events log.
    EXPECT_EQ(sink.events.size(), c.marks.size()) << c.what;
    if (!c.marks.isEmpty()) {
      const QString expected_msg = c.marks[0] == "CLM_LoadProfiles" ? "Error loading profiles" : "Error loading formats";
      EXPECT_EQ(sink.reports[0].first, expected_msg) << c.what;
    }
    // Whatever happened, lookups stay in bounds.
    EXPECT_EQ(catalogue.IsEmpty(), c.all_formats == 0) << c.what;
    EXPECT_EQ(catalogue.FormatAt(catalogue.Current()) != nullptr, c.all_formats > 0) << c.what;
    EXPECT_EQ(catalogue.FormatAt({-1, 0}), nullptr);
    EXPECT_EQ(catalogue.FormatAt({0, -1}), nullptr);
    EXPECT_EQ(catalogue.FormatAt({catalogue.CategoryCount(), 0}), nullptr);
  }
}

TEST(CatalogueFiles, FormatsFileCutOffMidRecordKeepsTheCompleteLinesInRange) {
  TCatalogueFolder folder;
  folder.WriteProfiles(kTwoCategories);
  // Header, three formats, and the fourth cut off: the last two lines are
  // never formats, so P1 and P2 remain.
  const QString text = "h0\nh1\nh2\n" + FormatLine("phones", "P1") + "\n" + FormatLine("phones", "P2") + "\n" +
                       FormatLine("phones", "P3") + "\n" + FormatLine("phones", "P4").left(40);
  folder.WriteFormatsText(text.toUtf8());
  TRecordingSink sink;
  TCatalogue catalogue(sink);
  catalogue.Load(folder.Path());
  EXPECT_TRUE(sink.reports.isEmpty());
  EXPECT_EQ(TitlesOf(catalogue.Categories()[0]), (QStringList{"P1", "P2"}));
}

TEST(CatalogueFiles, Distribution) {
  TCatalogueFolder folder;
  folder.WriteProfiles({R"(<category id="a" title="A" icon="i"/>)", R"(<category id="b" title="B" icon="i"/>)",
                        R"(<category id="a" title="A again" icon="i"/>)", R"(<category id="B" title="Upper B" icon="i"/>)",
                        R"(<category id="0" title="Zero" icon="i"/>)"});
  folder.WriteFormats({FormatLine("a", "a1"), FormatLine("nope", "unknown id"), FormatLine("b", "b1"),
                       FormatLine("", "no id"), FormatLine("a", "a2"), FormatLine("B", "B1")});
  TRecordingSink sink;
  TCatalogue catalogue(sink);
  catalogue.Load(folder.Path());
  ASSERT_EQ(catalogue.CategoryCount(), 6);
  EXPECT_EQ(TitlesOf(catalogue.Categories()[0]), (QStringList{"a1", "a2"}));
  EXPECT_EQ(TitlesOf(catalogue.Categories()[1]), (QStringList{"b1"}));
  EXPECT_TRUE(catalogue.Categories()[2].Formats.isEmpty()) << "a second category with one ID stays empty";
  const QStringList every = {"a1", "unknown id", "b1", "no id", "a2", "B1"};
  EXPECT_EQ(TitlesOf(catalogue.Categories()[3]), (QStringList{"B1"})) << "IDs compare with regard to case";
  EXPECT_EQ(TitlesOf(catalogue.Categories()[4]), every) << "a file category with ID 0 takes every format";
  EXPECT_EQ(TitlesOf(catalogue.Categories()[5]), every);
  EXPECT_TRUE(sink.reports.isEmpty());
}

TEST(CatalogueFiles, EmptyFirstCategoryDefaultsToTheFirstExistingFormat) {
  TCatalogueFolder folder;
  folder.WriteProfiles({R"(<category id="empty" title="Empty" icon="i"/>)", R"(<category id="b" title="B" icon="i"/>)"});
  folder.WriteFormats({FormatLine("b", "b1")});
  TRecordingSink sink;
  TCatalogue catalogue(sink);
  catalogue.Load(folder.Path());
  EXPECT_EQ(catalogue.Current(), (TFormatIndex{1, 0}));
  EXPECT_EQ(catalogue.Recent(), (TFormatIndex{1, 0}));
  ASSERT_NE(catalogue.FormatAt(catalogue.Current()), nullptr);
  EXPECT_EQ(catalogue.FormatAt(catalogue.Current())->Title, "b1");
  EXPECT_FALSE(catalogue.SetCurrent({0, 0}));
  EXPECT_EQ(catalogue.Current(), (TFormatIndex{1, 0}));
  EXPECT_TRUE(sink.events.isEmpty()) << "nothing was stored, so nothing is stale";
}

TEST(CatalogueFiles, StoredSelections) {
  TCatalogueFolder folder;
  folder.WriteProfiles(kTwoCategories);
  folder.WriteFormats({FormatLine("phones", "P1"), FormatLine("audio", "A1"), FormatLine("phones", "P2")});
  TLastEditedValues values{"libx265", "900000", "30000", "640", "360", "libopus", "96000", "48000", "1"};

  {  // Valid recent and last edited selections.
    TRecordingSink sink;
    TCatalogue catalogue(sink);
    TStoredSelections stored{TFormatIndex{0, 1}, TFormatIndex{0, 1}, values, QStringLiteral("P2")};
    catalogue.Load(folder.Path(), stored);
    EXPECT_EQ(catalogue.Current(), (TFormatIndex{0, 1}));
    EXPECT_EQ(catalogue.Recent(), (TFormatIndex{0, 1}));
    EXPECT_EQ(catalogue.LastEdited(), (TFormatIndex{0, 1}));
    const TFormat* edited = catalogue.FormatAt({0, 1});
    ASSERT_NE(edited, nullptr);
    EXPECT_EQ(edited->Title, "P2");
    EXPECT_EQ(edited->VideoCodecName, "libx265");
    EXPECT_EQ(edited->VideoBitRate, "900000");
    EXPECT_EQ(edited->FrameRate, "30000");
    EXPECT_EQ(edited->Width, "640");
    EXPECT_EQ(edited->Height, "360");
    EXPECT_EQ(edited->AudioCodecName, "libopus");
    EXPECT_EQ(edited->AudioBitRate, "96000");
    EXPECT_EQ(edited->SampleRate, "48000");
    EXPECT_EQ(edited->Channel, "1");
    EXPECT_EQ(edited->Description, "description-of-P2") << "other fields keep the file's values";
    // Only that copy changes: P2 in "All Profiles" keeps the file's values.
    EXPECT_EQ(catalogue.FormatAt({2, 2})->VideoCodecName, "video_codec_name-of-P2");
    EXPECT_TRUE(sink.events.isEmpty());
  }
  {  // Indices that no longer name a format are ignored with a log line.
    TRecordingSink sink;
    TCatalogue catalogue(sink);
    TStoredSelections stored{TFormatIndex{7, 3}, TFormatIndex{1, 5}, values, std::nullopt};
    catalogue.Load(folder.Path(), stored);
    EXPECT_EQ(catalogue.Current(), (TFormatIndex{0, 0}));
    EXPECT_EQ(catalogue.Recent(), (TFormatIndex{0, 0}));
    EXPECT_EQ(catalogue.LastEdited(), (TFormatIndex{-1, -1}));
    ASSERT_EQ(sink.events.size(), 2);
    EXPECT_TRUE(sink.events[0].contains("profile 7, format 3"));
    EXPECT_TRUE(sink.events[1].contains("profile 1, format 5"));
    for (const TProfile& p : catalogue.Categories()) {
      for (const TFormat& f : p.Formats) EXPECT_NE(f.VideoCodecName, "libx265");
    }
    EXPECT_TRUE(sink.reports.isEmpty());
  }
  {  // Negative indices too.
    TRecordingSink sink;
    TCatalogue catalogue(sink);
    catalogue.Load(folder.Path(), TStoredSelections{TFormatIndex{-3, 0}, TFormatIndex{0, -2}, values, std::nullopt});
    EXPECT_EQ(catalogue.Current(), (TFormatIndex{0, 0}));
    EXPECT_EQ(catalogue.LastEdited(), (TFormatIndex{-1, -1}));
    EXPECT_EQ(sink.events.size(), 2);
  }
  {  // The pair still names a format, but another one than was edited (the
     // data files changed): its values are not applied to it, with a log line.
    TRecordingSink sink;
    TCatalogue catalogue(sink);
    catalogue.Load(folder.Path(), TStoredSelections{TFormatIndex{0, 1}, TFormatIndex{0, 1}, values,
                                                    QStringLiteral("Phone HD")});
    EXPECT_EQ(catalogue.LastEdited(), (TFormatIndex{-1, -1}));
    EXPECT_EQ(catalogue.FormatAt({0, 1})->VideoCodecName, "video_codec_name-of-P2");
    EXPECT_EQ(catalogue.FormatAt({0, 1})->Width, "width-of-P2");
    ASSERT_EQ(sink.events.size(), 1);
    EXPECT_TRUE(sink.events[0].contains("\"Phone HD\"")) << sink.events[0].toStdString();
    EXPECT_TRUE(sink.events[0].contains("\"P2\"")) << sink.events[0].toStdString();
    EXPECT_TRUE(sink.reports.isEmpty());
  }
  {  // Stored before the title was kept: applied as before.
    TRecordingSink sink;
    TCatalogue catalogue(sink);
    catalogue.Load(folder.Path(), TStoredSelections{TFormatIndex{0, 1}, TFormatIndex{0, 1}, values, std::nullopt});
    EXPECT_EQ(catalogue.LastEdited(), (TFormatIndex{0, 1}));
    EXPECT_EQ(catalogue.FormatAt({0, 1})->VideoCodecName, "libx265");
  }
}

TEST(CatalogueFiles, Icons) {
  TCatalogueFolder folder;
  folder.WriteIcon("Phone.bmp", Qt::green, 20);
  folder.WriteIcon("menuall.bmp", Qt::blue, 24);
  folder.WriteIcon("upper.BMP", Qt::yellow);
  folder.WriteIconBytes("junk.bmp", "this is not a bitmap");
  QImage png(8, 8, QImage::Format_RGB32);
  png.fill(Qt::black);
  QByteArray png_bytes;
  QBuffer buffer(&png_bytes);
  buffer.open(QIODevice::WriteOnly);
  png.save(&buffer, "PNG");
  folder.WriteIconBytes("png-inside.bmp", png_bytes);
  folder.WriteIconBytes("notes.txt", "ignored");
  TRecordingSink sink;
  TCatalogue catalogue(sink);
  catalogue.LoadIcons(folder.Path());

  QStringList ids;
  for (const TProfileIcon& icon : catalogue.Icons()) ids.append(icon.ID);
  EXPECT_EQ(ids, (QStringList{"Phone", "menuall", "upper"}));
  EXPECT_EQ(sink.events.size(), 2) << sink.events.join("\n").toStdString();
  EXPECT_TRUE(sink.reports.isEmpty());
  ASSERT_NE(catalogue.IconPicture(0), nullptr);
  EXPECT_EQ(catalogue.IconPicture(0)->size(), QSize(20, 20));
  EXPECT_EQ(catalogue.IconPicture(0)->pixelColor(3, 3), QColor(Qt::green));

  EXPECT_EQ(catalogue.IconIndexOf("MENUALL"), 1);
  EXPECT_EQ(catalogue.IconIndexOf("phone"), 0);
  EXPECT_EQ(catalogue.IconIndexOf("nothing"), 0);
  EXPECT_EQ(catalogue.IconIndexExact("menuall"), 1);
  EXPECT_EQ(catalogue.IconIndexExact("MENUALL"), 0);
  EXPECT_EQ(catalogue.IconPicture(7), nullptr);
}

TEST(CatalogueFiles, NoIconsFolderGivesNoIcons) {
  TCatalogueFolder folder;
  QDir(folder.FilePath("Icons")).removeRecursively();
  TRecordingSink sink;
  TCatalogue catalogue(sink);
  catalogue.LoadIcons(folder.Path());
  EXPECT_TRUE(catalogue.Icons().isEmpty());
  EXPECT_EQ(catalogue.IconIndexOf("menuall"), -1);
  EXPECT_EQ(catalogue.IconPicture(catalogue.IconIndexOf("menuall")), nullptr);
  EXPECT_TRUE(sink.events.isEmpty());
}
