#include "app/LineControlWindow.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include <cerrno>

#include "serial/SerialPort.h"
#include "serial/SystemError.h"
#include "ui/GbkText.h"

namespace {

struct Lamp {
    const char* name;
    uint8_t line;
};
constexpr Lamp kLamps[] = {
    {"CTS", LINE_CTS}, {"DSR", LINE_DSR}, {"DCD", LINE_DCD}, {"RI", LINE_RING}};

constexpr std::string_view kNotOpen = "端口未打开";
constexpr const char* kLampOn = "background: #2e9d3a; color: white; padding: 2px 6px;";
constexpr const char* kLampOff = "background: #d0d0d0; color: black; padding: 2px 6px;";

QString Refusal(int error) {
    return error == EBADF ? FromUtf8(kNotOpen) : QString::fromStdString(SystemErrorText(error));
}

template <typename W>
W* Named(W* widget, const QString& name) {
    widget->setObjectName(name);
    widget->setAccessibleName(name);
    return widget;
}

}  // namespace

LineControlWindow::LineControlWindow(SerialPort& linePort, QWidget* owner)
    : QWidget(owner, Qt::Window), port(linePort) {
    setWindowTitle(FromUtf8(Caption));
    listenOnly = Named(new QCheckBox(FromUtf8(ListenOnlyText), this), QStringLiteral("listenOnly"));
    connect(listenOnly, &QCheckBox::clicked, this, [this](bool on) {
        port.SetListenOnly(on);
        Refresh();
        emit listenOnlyChanged(on);
    });

    rts = Named(new QCheckBox(QStringLiteral("RTS"), this), QStringLiteral("RTS"));
    dtr = Named(new QCheckBox(QStringLiteral("DTR"), this), QStringLiteral("DTR"));
    connect(rts, &QCheckBox::clicked, this, [this](bool on) { SetLine(LINE_RTS, on); });
    connect(dtr, &QCheckBox::clicked, this, [this](bool on) { SetLine(LINE_DTR, on); });
    auto* lines = new QHBoxLayout;
    lines->addWidget(rts);
    lines->addWidget(dtr);
    lines->addSpacing(16);
    for (size_t i = 0; i < std::size(kLamps); ++i) {
        const QString name = QString::fromLatin1(kLamps[i].name);
        lamps[i] = Named(new QLabel(name, this), name);
        lamps[i]->setProperty("lit", false);
        lamps[i]->setStyleSheet(QString::fromLatin1(kLampOff));
        lines->addWidget(lamps[i]);
    }
    lines->addStretch(1);

    breakLength = Named(new QSpinBox(this), FromUtf8(BreakLengthText));
    breakLength->setRange(1, 5000);
    breakLength->setValue(250);
    breakLength->setSuffix(QStringLiteral(" ms"));
    breakButton = Named(new QPushButton(FromUtf8(BreakText), this), FromUtf8(BreakText));
    breakTimer = new QTimer(this);
    breakTimer->setSingleShot(true);
    connect(breakTimer, &QTimer::timeout, this, &LineControlWindow::EndBreak);
    connect(breakButton, &QPushButton::clicked, this, &LineControlWindow::StartBreak);
    auto* breakRow = new QHBoxLayout;
    breakRow->addWidget(breakLength);
    breakRow->addWidget(breakButton);
    breakRow->addStretch(1);

    counters = Named(new QLabel(this), QStringLiteral("counters"));

    auto* group = new QGroupBox(FromUtf8(Rs485Text), this);
    rs485 = Named(new QCheckBox(FromUtf8(Rs485Text), group), FromUtf8(Rs485Text));
    rtsOnSend = Named(new QCheckBox(FromUtf8(RtsOnSendText), group), FromUtf8(RtsOnSendText));
    rtsAfterSend =
        Named(new QCheckBox(FromUtf8(RtsAfterSendText), group), FromUtf8(RtsAfterSendText));
    receiveDuringSend = Named(new QCheckBox(FromUtf8(ReceiveDuringSendText), group),
                              FromUtf8(ReceiveDuringSendText));
    delayBefore = Named(new QSpinBox(group), FromUtf8(DelayBeforeText));
    delayAfter = Named(new QSpinBox(group), FromUtf8(DelayAfterText));
    for (QSpinBox* delay : {delayBefore, delayAfter}) delay->setRange(0, 1000);
    apply = Named(new QPushButton(FromUtf8(ApplyText), group), FromUtf8(ApplyText));
    connect(apply, &QPushButton::clicked, this, &LineControlWindow::ApplyRs485);
    rs485Note = Named(new QLabel(group), QStringLiteral("rs485Note"));
    rs485Note->setWordWrap(true);
    auto* form = new QFormLayout(group);
    form->addRow(rs485);
    form->addRow(rtsOnSend);
    form->addRow(rtsAfterSend);
    form->addRow(receiveDuringSend);
    form->addRow(FromUtf8(DelayBeforeText), delayBefore);
    form->addRow(FromUtf8(DelayAfterText), delayAfter);
    form->addRow(apply);
    form->addRow(rs485Note);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(listenOnly);
    layout->addLayout(lines);
    layout->addLayout(breakRow);
    layout->addWidget(counters);
    layout->addWidget(group);

    refresh = new QTimer(this);
    refresh->setInterval(kRefreshMs);
    connect(refresh, &QTimer::timeout, this, &LineControlWindow::Refresh);
}

LineControlWindow::~LineControlWindow() {
    if (breakOn) EndBreak();
}

void LineControlWindow::Open() {
    ShowRs485();
    Refresh();
    show();
    raise();
    activateWindow();
}

// Hidden, the window asks the device nothing.
void LineControlWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refresh->start();
}

void LineControlWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    refresh->stop();
}

void LineControlWindow::ShowAvailable(QWidget* widget, int error, const QString& tip) {
    widget->setEnabled(error == 0);
    widget->setToolTip(
        error == 0 ? tip : FromUtf8(NotAvailableText) + QStringLiteral(": ") + Refusal(error));
}

void LineControlWindow::Refresh() {
    {
        const QSignalBlocker blocker(listenOnly);
        listenOnly->setChecked(port.ListenOnly());
    }
    uint8_t bits = 0;
    int error = 0;
    const bool known = port.GetModemLines(bits, error);
    const int lineError = known ? 0 : error;
    const bool driverOwnsRts = port.GetRs485().settings.enabled;
    for (QCheckBox* box : {rts, dtr}) {
        const bool isRts = box == rts;
        const QSignalBlocker blocker(box);
        box->setChecked(known && (bits & (isRts ? LINE_RTS : LINE_DTR)));
        ShowAvailable(box, lineError);
        if (isRts && known && driverOwnsRts) {
            box->setEnabled(false);
            box->setToolTip(FromUtf8(Rs485DriverOwnsRts));
        }
    }
    for (size_t i = 0; i < std::size(kLamps); ++i) {
        const bool lit = known && (bits & kLamps[i].line);
        if (lamps[i]->property("lit").toBool() != lit) {
            lamps[i]->setProperty("lit", lit);
            lamps[i]->setStyleSheet(QString::fromLatin1(lit ? kLampOn : kLampOff));
        }
        ShowAvailable(lamps[i], lineError);
    }

    LineCounters count;
    if (port.GetLineCounters(count, error)) {
        counters->setText(FromUtf8(CountersText)
                              .arg(count.frame)
                              .arg(count.parity)
                              .arg(count.overrun)
                              .arg(count.bufOverrun)
                              .arg(count.brk));
        ShowAvailable(counters, 0);
    } else {
        counters->setText(
            FromUtf8(CountersText)
                .replace(QRegularExpression(QStringLiteral("%[1-5]")), QStringLiteral("-")));
        ShowAvailable(counters, error);
        counters->setEnabled(true);
    }
}

void LineControlWindow::SetLine(uint8_t line, bool on) {
    int error = 0;
    if (!port.SetControlLine(line, on, error)) ShowAvailable(line == LINE_RTS ? rts : dtr, error);
    // The level shown is the one read back, not the one asked for.
    Refresh();
}

void LineControlWindow::StartBreak() {
    int error = 0;
    if (!port.SetBreak(true, error)) {
        ShowAvailable(breakButton, error);
        breakButton->setEnabled(true);  // a line opened later may take it
        return;
    }
    breakOn = true;
    breakButton->setEnabled(false);
    breakTimer->start(breakLength->value());
}

void LineControlWindow::EndBreak() {
    int error = 0;
    port.SetBreak(false, error);
    breakOn = false;
    breakButton->setEnabled(true);
}

void LineControlWindow::ShowRs485() {
    const SerialPort::Rs485State state = port.GetRs485();
    QWidget* const controls[] = {rs485,       rtsOnSend,  rtsAfterSend, receiveDuringSend,
                                 delayBefore, delayAfter, apply};
    for (QWidget* control : controls) ShowAvailable(control, state.known ? 0 : state.error);
    if (!state.known) {
        rs485Note->setText(state.error == EBADF
                               ? FromUtf8(kNotOpen)
                               : FromUtf8(NoRs485Message).arg(Refusal(state.error)));
        return;
    }
    rs485->setChecked(state.settings.enabled);
    rtsOnSend->setChecked(state.settings.rtsOnSend);
    rtsAfterSend->setChecked(state.settings.rtsAfterSend);
    receiveDuringSend->setChecked(state.settings.receiveDuringSend);
    delayBefore->setValue(static_cast<int>(state.settings.delayBeforeSendMs));
    delayAfter->setValue(static_cast<int>(state.settings.delayAfterSendMs));
}

void LineControlWindow::ApplyRs485() {
    Rs485Settings wanted;
    wanted.enabled = rs485->isChecked();
    wanted.rtsOnSend = rtsOnSend->isChecked();
    wanted.rtsAfterSend = rtsAfterSend->isChecked();
    wanted.receiveDuringSend = receiveDuringSend->isChecked();
    wanted.delayBeforeSendMs = static_cast<uint32_t>(delayBefore->value());
    wanted.delayAfterSendMs = static_cast<uint32_t>(delayAfter->value());
    int error = 0;
    const bool applied = port.SetRs485(wanted, error);
    // What the driver took, which may differ from what was asked.
    ShowRs485();
    if (applied)
        rs485Note->clear();
    else
        rs485Note->setText(
            FromUtf8(error == ENOTTY ? NoRs485Message : Rs485RefusedMessage).arg(Refusal(error)));
    Refresh();
}

QString LineControlWindow::StatusText(SerialPort& port) {
    QStringList parts;
    if (port.ListenOnly()) parts << FromUtf8(ListenOnlyStatus);
    LineCounters count;
    int error = 0;
    if (port.GetLineCounters(count, error))
        parts << FromUtf8(LineErrorsStatus)
                     .arg(count.frame + count.parity + count.overrun + count.bufOverrun);
    return parts.join(QStringLiteral("    "));
}
