#include "about_form.h"

#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include "maker_pages.h"

namespace vidmill {

TAboutForm::TAboutForm(const QString& data_folder, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("About"));
  LogoImage = new QLabel(this);
  LogoImage->setObjectName(QStringLiteral("LogoImage"));
  LogoImage->setPixmap(QPixmap(QDir(data_folder).filePath(QStringLiteral("logo.bmp"))));
  LogoImage->setAlignment(Qt::AlignCenter);
  auto* title = new QLabel(QStringLiteral("<b>Tarnwick Vidmill</b>"), this);
  lblVersion = new QLabel(QStringLiteral("Version 1.6"), this);
  lblVersion->setObjectName(QStringLiteral("lblVersion"));
  auto* home = new QLabel(QStringLiteral("<a href=\"%1\">Home page</a> &nbsp; <a href=\"%2\">Support</a>")
                              .arg(QString::fromLatin1(kHomePageUrl), QString::fromLatin1(kSupportPageUrl)),
                          this);
  home->setOpenExternalLinks(true);
  auto* legal = new QLabel(QStringLiteral("Free software for converting video and audio files."), this);
  btnOK = new QPushButton(QStringLiteral("OK"), this);
  connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);

  auto* text = new QVBoxLayout;
  text->addWidget(title);
  text->addWidget(lblVersion);
  text->addWidget(home);
  text->addWidget(legal);
  text->addStretch();
  auto* top = new QHBoxLayout;
  top->addWidget(LogoImage);
  top->addLayout(text, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(btnOK);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addLayout(buttons);
}

void TAboutForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  resize(width() < 360 ? 360 : width(), kClientHeight);
}

}  // namespace vidmill
