#include "app/frmSetup.h"

#include "config/NumericValue.h"
#include "faders/ControlName.h"
#include "faders/Twips.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QValidator>
#include <algorithm>

using Twips::px;

namespace {

// Client area of the dialog, in twips as it was drawn.
constexpr int kClientWidth = 4455;
constexpr int kClientHeight = 5085;

// The channels a user may pick, as shown on screen (stored counted from 0).
constexpr qint16 kLowestChannel = 1;
constexpr qint16 kHighestChannel = 1024;

// Captions the channel rows start with; the gain type's relabelling replaces them.
const char *const kDesignChanCaptions[frmSetup::kChanRows] = {
    "Slider 1 Channel ", "Slider 2 Channel ", "Slider 3 Channel "};

struct Rect {
    int left, top, width, height;
};
// Even in the drawn font size (Twips::UseDrawnFontSize) today's fonts run wider than the
// layout's, so the captioned controls (labels and options) keep their place but reach on
// to just short of their right-hand neighbour; otherwise "Second Output Channel" and the
// option captions would be cut off.
constexpr Rect kLblChan[frmSetup::kChanRows] = {
    {240, 120, 2100, 255}, {240, 720, 2100, 255}, {240, 1320, 2100, 255}};
constexpr Rect kTxtChan[frmSetup::kChanRows] = {
    {2400, 120, 1815, 375}, {2400, 720, 1815, 375}, {2400, 1320, 1815, 375}};
constexpr Rect kFrmType{240, 1920, 3495, 1095};
// The options sit inside frmType; their positions are relative to it.
constexpr Rect kOptInput{120, 240, 1500, 255};
constexpr Rect kOptOutput{1680, 240, 1755, 255};
constexpr Rect kOptDSP{120, 600, 1500, 255};
constexpr Rect kCmdOk{240, 4440, 1335, 495};
constexpr Rect kCmdCancel{2400, 4440, 1335, 495};
constexpr Rect kLblIPPort{360, 3360, 1980, 255};
constexpr Rect kTxtIPPort{2400, 3240, 1815, 375};
constexpr Rect kTxtIPAddr{2400, 3840, 1815, 375};
constexpr Rect kLblAddress{360, 3840, 1980, 255};

void place(QWidget *widget, const Rect &r) {
    widget->setGeometry(px(r.left), px(r.top), px(r.width), px(r.height));
}

// Keeps the characters a field does not take out of it, however they arrive: typed, pasted,
// dropped or composed by an input method. Only what an edit inserts is filtered, so text the
// dialog itself put in stays as shown (a negative channel from a hand-edited settings file
// keeps its minus sign), and deleting is always possible.
class CharFilter : public QValidator {
  public:
    CharFilter(QLineEdit *box, bool takesFullStop)
        : QValidator(box), m_takesFullStop(takesFullStop), m_last(box->text()) {
        connect(box, &QLineEdit::textChanged, this, [this](const QString &text) { m_last = text; });
    }

    State validate(QString &input, int &pos) const override {
        // An edit replaces one stretch of the last text: what lies between the common head and
        // tail is what it inserted.
        const qsizetype shorter = std::min(input.size(), m_last.size());
        qsizetype head = 0;
        while (head < shorter && input[head] == m_last[head])
            ++head;
        qsizetype tail = 0;
        while (tail < shorter - head &&
               input[input.size() - 1 - tail] == m_last[m_last.size() - 1 - tail])
            ++tail;

        const qsizetype insertedEnd = input.size() - tail;
        QString kept = input.left(head);
        qsizetype cursor = pos;
        for (qsizetype k = head; k < insertedEnd; ++k) {
            if (takes(input[k]))
                kept += input[k];
            else if (k < pos)
                --cursor; // the cursor moves back over each dropped character before it
        }
        kept += input.right(tail);
        input = kept;
        pos = static_cast<int>(std::clamp<qsizetype>(cursor, 0, input.size()));
        return Acceptable;
    }

  private:
    bool takes(QChar c) const {
        const char16_t u = c.unicode();
        return (u >= u'0' && u <= u'9') || (m_takesFullStop && u == u'.');
    }

    bool m_takesFullStop;
    QString m_last;
};

} // namespace

frmSetup::frmSetup(const Settings &current, QWidget *parent)
    : QDialog(parent), m_settings(current) {
    setObjectName(QStringLiteral("frmSetup"));
    setWindowTitle(QStringLiteral("Setup"));
    setFixedSize(px(kClientWidth), px(kClientHeight));
    Twips::UseDrawnFontSize(this);
    buildControls();
    Form_Load();

    // The filters come after the load so that they judge only what the user enters.
    for (auto *box : txtChan)
        box->setValidator(new CharFilter(box, false));
    txtIPPort->setValidator(new CharFilter(txtIPPort, false));
    txtIPAddr->setValidator(new CharFilter(txtIPAddr, true));
}

void frmSetup::buildControls() {
    const auto label = [this](const QString &name, const QString &caption, const Rect &r) {
        auto *widget = new QLabel(caption, this);
        widget->setObjectName(name);
        widget->setAccessibleName(caption.trimmed());
        place(widget, r);
        return widget;
    };
    const auto field = [this](const QString &name, const QString &accessible, const Rect &r) {
        auto *widget = new QLineEdit(this);
        widget->setObjectName(name);
        widget->setAccessibleName(accessible);
        place(widget, r);
        return widget;
    };
    const auto option = [this](const char *name, const QString &caption, const Rect &r,
                               qint16 type) {
        auto *widget = new QRadioButton(caption, frmType);
        widget->setObjectName(QString::fromLatin1(name));
        widget->setAccessibleName(caption);
        place(widget, r);
        // Selecting an option from code relabels just as a click does.
        connect(widget, &QRadioButton::toggled, this, [this, type](bool checked) {
            if (checked)
                opt_Click(type);
        });
        return widget;
    };
    const auto button = [this](const char *name, const QString &caption, const Rect &r) {
        auto *widget = new QPushButton(caption, this);
        widget->setObjectName(QString::fromLatin1(name));
        widget->setAccessibleName(QString(caption).remove(QLatin1Char('&')));
        place(widget, r);
        return widget;
    };
    const auto chanLabel = [&](int row) {
        return label(ControlName("lblChan", row), QString::fromLatin1(kDesignChanCaptions[row]),
                     kLblChan[row]);
    };
    const auto chanField = [&](int row) {
        return field(ControlName("txtChan", row),
                     QString::fromLatin1(kDesignChanCaptions[row]).trimmed(), kTxtChan[row]);
    };

    // Created in tab order, so that the focus chain (labels and frame included) runs as the
    // form was drawn.
    lblChan[0] = chanLabel(0);
    txtChan[0] = chanField(0);
    lblChan[1] = chanLabel(1);
    txtChan[1] = chanField(1);

    frmType = new QGroupBox(this);
    frmType->setObjectName(QStringLiteral("frmType"));
    frmType->setAccessibleName(QStringLiteral("Gain type"));
    place(frmType, kFrmType);
    optInput = option("optInput", QStringLiteral("Input Gain"), kOptInput, kTypeInput);
    optOutput = option("optOutput", QStringLiteral("Output Gain"), kOptOutput, kTypeOutput);

    cmdOk = button("cmdOk", QStringLiteral("&Ok"), kCmdOk);
    cmdOk->setDefault(true); // Enter in a field confirms; Escape cancels
    connect(cmdOk, &QPushButton::clicked, this, &frmSetup::cmdOk_Click);
    cmdCancel = button("cmdCancel", QStringLiteral("&Cancel"), kCmdCancel);
    connect(cmdCancel, &QPushButton::clicked, this, &frmSetup::cmdCancel_Click);

    lblIPPort = label(QStringLiteral("lblIPPort"), QStringLiteral("IP Port"), kLblIPPort);
    txtIPPort = field(QStringLiteral("txtIPPort"), QStringLiteral("IP Port"), kTxtIPPort);
    txtIPAddr = field(QStringLiteral("txtIPAddr"), QStringLiteral("IP Address"), kTxtIPAddr);
    lblAddress = label(QStringLiteral("lblAddress"), QStringLiteral("IP Address"), kLblAddress);
    txtChan[2] = chanField(2);
    lblChan[2] = chanLabel(2);
    OptDSP = option("OptDSP", QStringLiteral("DSP Gain"), kOptDSP, kTypeDsp);

    for (int row = 0; row < kChanRows; ++row)
        lblChan[row]->setBuddy(txtChan[row]);
    lblIPPort->setBuddy(txtIPPort);
    lblAddress->setBuddy(txtIPAddr);

    // Only controls that take focus have a place Qt keeps; state their order explicitly.
    QWidget *const order[] = {txtChan[0], txtChan[1], optInput,  optOutput,  cmdOk,
                              cmdCancel,  txtIPPort,  txtIPAddr, txtChan[2], OptDSP};
    for (std::size_t k = 1; k < std::size(order); ++k)
        setTabOrder(order[k - 1], order[k]);
}

void frmSetup::setChanCaption(int row, const QString &caption) {
    lblChan[row]->setText(caption);
    lblChan[row]->setAccessibleName(caption.trimmed());
    txtChan[row]->setAccessibleName(caption.trimmed());
}

void frmSetup::Form_Load() {
    const auto &[iType, iChan, iOutChan, sIPAddress, lIPPort] = m_settings;
    txtChan[0]->setText(QString::number(iChan[0] + 1));
    txtChan[1]->setText(QString::number(iChan[1] + 1));
    txtChan[2]->setText(QString::number(iOutChan + 1));

    // Any other type (a hand-edited settings file) selects nothing and keeps the design
    // captions with every row enabled.
    if (iType == kTypeInput)
        optInput->setChecked(true);
    else if (iType == kTypeOutput)
        optOutput->setChecked(true);
    else if (iType == kTypeDsp)
        OptDSP->setChecked(true);

    txtIPPort->setText(QString::number(lIPPort));
    txtIPAddr->setText(sIPAddress);
}

void frmSetup::opt_Click(qint16 type) {
    const bool output = type == kTypeOutput;
    const bool dsp = type == kTypeDsp;
    setChanCaption(0, output ? QStringLiteral("First Output Channel")
                             : QStringLiteral("First Input Channel"));
    setChanCaption(1, output ? QStringLiteral("Second Output Channel")
                             : QStringLiteral("Second Input Channel"));
    setChanCaption(2, dsp ? QStringLiteral("Output Channel") : QStringLiteral("Unused"));
    // A disabled row keeps its text, and OK still applies it.
    lblChan[2]->setEnabled(dsp);
    txtChan[2]->setEnabled(dsp);
}

void frmSetup::cmdOk_Click() {
    auto &[iType, iChan, iOutChan, sIPAddress, lIPPort] = m_settings;

    // Channels outside 1..1024, too large for 16 bits or empty leave their setting alone.
    qint16 *const channels[kChanRows] = {&iChan[0], &iChan[1], &iOutChan};
    for (int row = 0; row < kChanRows; ++row) {
        const auto value = DiskWork::NumericValue16(txtChan[row]->text());
        if (value && *value >= kLowestChannel && *value <= kHighestChannel)
            *channels[row] = static_cast<qint16>(*value - 1);
    }

    if (optInput->isChecked())
        iType = kTypeInput;
    else if (optOutput->isChecked())
        iType = kTypeOutput;
    else if (OptDSP->isChecked())
        iType = kTypeDsp;

    // The address as typed; a port too large for 32 bits cannot be held and stays as it was.
    sIPAddress = txtIPAddr->text();
    lIPPort = DiskWork::NumericValue32(txtIPPort->text()).value_or(lIPPort);
    accept();
}

void frmSetup::cmdCancel_Click() {
    reject();
}
