#include "editing/attach_dialogs.h"

#include <QLabel>
#include <QSlider>

#include "dialogs/file_info_dialog.h"
#include "dialogs/profile_chooser.h"
#include "dialogs/settings_dialog.h"
#include "editing/crop_dialog.h"
#include "editing/trim_dialog.h"
#include "main/conversion_list.h"
#include "main/main_form.h"
#include "report/events_log.h"

namespace vidmill {

void AttachDialogs(TMainForm& window) {
  TConversionList& list = window.List();

  // The chooser hands a choice to the window, which knows "Apply to all".
  TChooserHost host;
  host.SelectedEntry = [] { return 0; };
  host.SetEntryFormat = [&window](int, TFormatIndex format) { window.ApplyChosenFormat(format); };
  host.ApplyToAll = [] { return false; };
  host.ShowProfile = [&window](const QString&, const QImage*) { window.ShowCurrentFormat(); };
  host.EstimateAndRepaint = [&list] { list.UpdateAllSizes(); };
  auto* chooser = new TProfileChooser(window.Catalogue(), window, host, &window);

  auto* settings = new TSettingsDialog(window.Catalogue(), window, &window);
  settings->AfterConfirm = [&list] { list.UpdateAllSizes(); };

  auto* info = new TFileInfoDialog(window, &window);
  info->AddLogLine = [&window](const QString& line) { window.EventsLog().AddLine(line); };

  auto* trim = new TTrimDialog(window, &window);
  trim->LibraryPath = window.Folders().LibAV();
  auto* crop = new TCropDialog(window, &window);
  crop->LibraryPath = window.Folders().LibAV();

  TMainFormDialogs dialogs;
  dialogs.ChooseProfile = [&window, &list, chooser] {
    QWidget* field = window.lblProfile->parentWidget() ? window.lblProfile->parentWidget() : window.lblProfile;
    chooser->Popup(field->mapToGlobal(QPoint(0, 0)), list.IsEmpty());
  };
  dialogs.EditSettings = [settings] { settings->exec(); };
  dialogs.FileInformation = [&window, &list, info](int entry) {
    if (const TVideoFile* e = list.Entry(entry)) info->ShowFor(window.Mediora().Decoder(), e->Source);
  };
  dialogs.TrimEntry = [&list, trim](int entry) {
    TVideoFile* e = list.MutableEntry(entry);
    if (!e) return;
    TTrimValues v{e->TimeStart, e->TimeEnd, e->TrimmedLength};
    if (!trim->Edit(e->Source, v)) return;
    e->TimeStart = v.TimeStart;
    e->TimeEnd = v.TimeEnd;
    e->TrimmedLength = v.TrimmedLength;
    list.EntryChanged(entry);
  };
  dialogs.CropEntry = [&window, &list, crop](int entry) {
    TVideoFile* e = list.MutableEntry(entry);
    if (!e) return;
    crop->AudioVolume = window.VolumeTrackBar->value();
    TCropValues v{e->CropLeft, e->CropTop, e->CropRight, e->CropBottom,
                  e->AspectRatio, e->Brightness, e->Contrast, e->Saturation};
    if (!crop->Edit(e->Source, v)) return;
    e->CropLeft = v.CropLeft;
    e->CropTop = v.CropTop;
    e->CropRight = v.CropRight;
    e->CropBottom = v.CropBottom;
    e->AspectRatio = v.AspectRatio;
    e->Brightness = v.Brightness;
    e->Contrast = v.Contrast;
    e->Saturation = v.Saturation;
    list.EntryChanged(entry);
  };
  window.SetDialogs(std::move(dialogs));
}

}  // namespace vidmill
