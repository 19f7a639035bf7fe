#include "app/frmAbout.h"

#include "faders/Twips.h"

#include <QApplication>
#include <QDir>
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

using Twips::px;

namespace {
constexpr char kCarriageReturn = '\r';
} // namespace

frmAbout::frmAbout(const QString &settingsPath, QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("Tamric Server Module Information"));
    setModal(true);

    lblTamrictitle = new QLabel(QStringLiteral("Tamric"), this);
    lblTamrictitle->setObjectName(QStringLiteral("lblTamrictitle"));
    QFont titleFont = lblTamrictitle->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(9.75);
    lblTamrictitle->setFont(titleFont);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setAccessibleName(QStringLiteral("Program icon"));
    Image1->setPixmap(style()->standardIcon(QStyle::SP_MediaVolume).pixmap(px(480)));

    frmVersionInfo = new QGroupBox(QStringLiteral("Version Information"), this);
    frmVersionInfo->setObjectName(QStringLiteral("frmVersionInfo"));
    lblVersionInfo = new QLabel(frmVersionInfo);
    lblVersionInfo->setObjectName(QStringLiteral("lblVersionInfo"));
    // Named by its text, which it gets when the box shows.
    lblVersionInfo->setAccessibleDescription(QStringLiteral("Version information"));
    lblVersionInfo->setTextFormat(Qt::PlainText);
    auto *versionLayout = new QVBoxLayout(frmVersionInfo);
    versionLayout->addWidget(lblVersionInfo);

    // No street address, telephone number or web address is given here: support comes
    // through whoever supplied the switcher.
    lblTamricaddress = new QLabel(QStringLiteral("Audio routing switcher control panel"), this);
    lblTamricaddress->setObjectName(QStringLiteral("lblTamricaddress"));
    lblTamricaddress2 =
        new QLabel(QStringLiteral("For support, contact the supplier of your switcher."), this);
    lblTamricaddress2->setObjectName(QStringLiteral("lblTamricaddress2"));

    // Which file this panel keeps its settings in: beside the program, in the user's own
    // folder, or one named on the command line.
    lblSettingsFile =
        new QLabel(QStringLiteral("Settings: ") + QDir::toNativeSeparators(settingsPath), this);
    lblSettingsFile->setObjectName(QStringLiteral("lblSettingsFile"));
    lblSettingsFile->setTextFormat(Qt::PlainText);
    lblSettingsFile->setWordWrap(true);
    lblSettingsFile->setTextInteractionFlags(Qt::TextSelectableByMouse);

    cmdAboutquit = new QPushButton(QStringLiteral("&Ok"), this);
    cmdAboutquit->setObjectName(QStringLiteral("cmdAboutquit"));
    cmdAboutquit->setDefault(true);
    connect(cmdAboutquit, &QPushButton::clicked, this, &QDialog::hide);

    for (QLabel *label : {lblTamrictitle, lblTamricaddress, lblTamricaddress2, lblSettingsFile})
        label->setAccessibleName(label->text());

    auto *layout = new QVBoxLayout(this);
    auto *header = new QHBoxLayout;
    header->addWidget(Image1);
    header->addWidget(lblTamrictitle, 1);
    layout->addLayout(header);
    layout->addWidget(frmVersionInfo);
    layout->addWidget(lblTamricaddress);
    layout->addWidget(lblTamricaddress2);
    layout->addWidget(lblSettingsFile);
    layout->addWidget(cmdAboutquit, 0, Qt::AlignHCenter);
}

void frmAbout::setSettingsProblem(const QString &problem) {
    QString line = lblSettingsFile->text().section(QStringLiteral(" ("), 0, 0);
    if (!problem.isEmpty())
        line +=
            QStringLiteral(" (could not be read: %1; the start-up values are in use)").arg(problem);
    lblSettingsFile->setText(line);
}

QString frmAbout::versionText() {
    return QStringLiteral("Tamric Dual Slider") + kCarriageReturn +
           QStringLiteral("1.02 - 04/15/03");
}

void frmAbout::Form_Activate() {
    // The version text separates its two lines with a bare carriage return, which a label
    // would draw as one run; show it as the two lines it stands for.
    QString shown = versionText();
    shown.replace(kCarriageReturn, QChar::LineSeparator);
    lblVersionInfo->setText(shown);
}

void frmAbout::showEvent(QShowEvent *event) {
    Form_Activate();
    QDialog::showEvent(event);
}
