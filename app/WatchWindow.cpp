#include "app/WatchWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSaveFile>
#include <QSpinBox>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include "app/TrendPlot.h"
#include "tools/CsvFile.h"
#include "tools/MessageBox.h"
#include "ui/GbkText.h"

namespace {

constexpr std::string_view kHeaders[WatchWindow::ColumnCount] = {
    "名称", "站号", "功能", "地址", "格式",     "字节序",    "寄存器数", "倍率",
    "偏移", "单位", "数值", "状态", "最后成功", "成功/次数", "响应(ms)", "曲线"};

constexpr std::string_view kFunctionTexts[] = {"01 线圈", "02 离散输入", "03 保持寄存器",
                                               "04 输入寄存器"};

int64_t SteadyMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

QString Latin(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

QStringList Choices(WatchWindow::Column column) {
    QStringList list;
    if (column == WatchWindow::FunctionColumn)
        for (std::string_view text : kFunctionTexts) list << FromUtf8(text);
    if (column == WatchWindow::FormatColumn)
        for (RegisterFormat format : RegisterValue::Formats())
            list << Latin(RegisterValue::FormatName(format));
    if (column == WatchWindow::OrderColumn)
        for (WordOrder order : RegisterValue::Orders())
            list << Latin(RegisterValue::OrderName(order));
    return list;
}

// The choice columns are edited with a list of their texts.
class ChoiceDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override {
        const QStringList choices = Choices(static_cast<WatchWindow::Column>(index.column()));
        if (choices.isEmpty()) return QStyledItemDelegate::createEditor(parent, option, index);
        auto* box = new QComboBox(parent);
        box->addItems(choices);
        return box;
    }
    void setEditorData(QWidget* editor, const QModelIndex& index) const override {
        if (auto* box = qobject_cast<QComboBox*>(editor))
            box->setCurrentText(index.data().toString());
        else
            QStyledItemDelegate::setEditorData(editor, index);
    }
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override {
        if (auto* box = qobject_cast<QComboBox*>(editor))
            model->setData(index, box->currentText());
        else
            QStyledItemDelegate::setModelData(editor, model, index);
    }
};

bool Editable(int column) { return column < WatchWindow::ValueColumn; }

// A register format on a bit function reads a bit; a bit on registers, a word.
void FitFormat(WatchRow& row) {
    const bool bits = row.function <= 2;
    if (bits) row.format.format = RegisterFormat::Bit;
    if (!bits && row.format.format == RegisterFormat::Bit) row.format.format = RegisterFormat::U16;
}

PollPoint PointOf(const WatchRow& row) {
    return {static_cast<uint8_t>(row.station), static_cast<uint8_t>(row.function),
            static_cast<uint16_t>(row.address),
            static_cast<uint16_t>(RegisterValue::Width(row.format))};
}

QString Number(double value) { return QString::number(value, 'g', 10); }

QString ColumnName(const WatchRow& row) {
    QString name =
        row.label.isEmpty()
            ? QStringLiteral("%1/%2/%3").arg(row.station).arg(row.function).arg(row.address)
            : row.label;
    if (!row.unit.isEmpty()) name += QStringLiteral(" (%1)").arg(row.unit);
    return name;
}

QString AskPath(QWidget* parent, std::string_view caption, std::string_view filter,
                const QString& suffix, bool save) {
    QFileDialog dialog(parent, FromUtf8(caption), QDir::homePath(), FromUtf8(filter));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(suffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().front();
}

}  // namespace

WatchWindow::WatchWindow(FrameList& list, WatchPoller::Writer write, WatchPoller::Check lineOpen,
                         WatchPoller::Check lineTaken, QWidget* owner)
    : QWidget(owner, Qt::Window),
      poller(
          new WatchPoller(list, std::move(write), std::move(lineOpen), std::move(lineTaken), this)),
      table(new QTableWidget(0, ColumnCount, this)),
      interval(new QSpinBox(this)),
      poll(new QCheckBox(FromUtf8(PollText), this)),
      logBox(new QCheckBox(FromUtf8(LogText), this)),
      counters(new QLabel(this)),
      message(new QLabel(this)),
      marks(new QTimer(this)) {
    setWindowTitle(FromUtf8(Caption));
    QStringList headers;
    for (std::string_view text : kHeaders) headers << FromUtf8(text);
    table->setHorizontalHeaderLabels(headers);
    table->setItemDelegate(new ChoiceDelegate(table));
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
    // Sized to the contents when rows change, not on every value: that mode
    // measures every cell of a column each time one of them changes.
    table->horizontalHeader()->setSectionResizeMode(ValueColumn, QHeaderView::Stretch);
    interval->setRange(10, 3600000);
    interval->setValue(kDefaultIntervalMs);

    auto* add = new QPushButton(FromUtf8(AddText), this);
    auto* remove = new QPushButton(FromUtf8(RemoveText), this);
    auto* plotButton = new QPushButton(FromUtf8(PlotText), this);
    auto* open = new QPushButton(FromUtf8(OpenText), this);
    auto* save = new QPushButton(FromUtf8(SaveText), this);
    auto* controls = new QHBoxLayout;
    for (QWidget* widget : std::initializer_list<QWidget*>{add, remove})
        controls->addWidget(widget);
    controls->addSpacing(12);
    controls->addWidget(new QLabel(FromUtf8(IntervalText), this));
    for (QWidget* widget : std::initializer_list<QWidget*>{interval, poll, plotButton, logBox})
        controls->addWidget(widget);
    controls->addStretch();
    controls->addWidget(open);
    controls->addWidget(save);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(controls);
    layout->addWidget(table);
    layout->addWidget(message);
    layout->addWidget(counters);
    resize(980, 420);

    connect(add, &QPushButton::clicked, this, [this] { AddRow(table->currentRow()); });
    connect(remove, &QPushButton::clicked, this, [this] {
        std::vector<int> selected;
        for (const QModelIndex& index : table->selectionModel()->selectedRows())
            selected.push_back(index.row());
        if (selected.empty() && table->currentRow() >= 0) selected.push_back(table->currentRow());
        RemoveRows(std::move(selected));
    });
    connect(poll, &QCheckBox::toggled, this, [this](bool on) {
        if (on)
            StartPolling(interval->value());
        else
            StopPolling();
    });
    connect(interval, &QSpinBox::valueChanged, this, [this](int ms) {
        if (poller->Polling()) poller->Start(ms);
    });
    connect(plotButton, &QPushButton::clicked, this, [this] {
        Plot().show();
        Plot().raise();
    });
    connect(logBox, &QCheckBox::clicked, this, [this](bool on) {
        if (!on) return StopLog();
        logBox->setChecked(false);
        const QString path = AskPath(this, LogText, CsvFilter, QStringLiteral("csv"), true);
        QString error;
        if (!path.isEmpty() && !StartLog(path, error))
            ShowMessageBox(FromUtf8(WriteFailedMessage).arg(path, error).toStdString());
    });
    connect(open, &QPushButton::clicked, this, [this] {
        const QString path = AskPath(this, OpenText, ListFilter, QStringLiteral("json"), false);
        QString error;
        if (!path.isEmpty() && !LoadList(path, error))
            ShowMessageBox(FromUtf8(ReadFailedMessage).arg(path, error).toStdString());
    });
    connect(save, &QPushButton::clicked, this, [this] {
        const QString path = AskPath(this, SaveText, ListFilter, QStringLiteral("json"), true);
        QString error;
        if (!path.isEmpty() && !SaveList(path, error))
            ShowMessageBox(FromUtf8(WriteFailedMessage).arg(path, error).toStdString());
    });
    connect(table, &QTableWidget::itemChanged, this, &WatchWindow::OnItemChanged);
    connect(table, &QTableWidget::cellDoubleClicked, this, &WatchWindow::OnDoubleClick);
    // The reads of one poll end within milliseconds: shown together.
    auto* showSoon = new QTimer(this);
    showSoon->setSingleShot(true);
    showSoon->setInterval(30);
    connect(showSoon, &QTimer::timeout, this, &WatchWindow::ShowValues);
    connect(poller, &WatchPoller::updated, showSoon, [showSoon] {
        if (!showSoon->isActive()) showSoon->start();
    });
    connect(poller, &WatchPoller::written, this, &WatchWindow::OnWritten);
    connect(poller, &WatchPoller::cycleDone, this, &WatchWindow::OnCycleDone);
    // Takes the marks of changed values and old notes away.
    marks->setInterval(250);
    connect(marks, &QTimer::timeout, this, &WatchWindow::ShowValues);
    ShowValues();
}

WatchWindow::~WatchWindow() { StopLog(); }

void WatchWindow::Open() {
    show();
    raise();
    activateWindow();
}

TrendPlot& WatchWindow::Plot() {
    if (!plot) plot = new TrendPlot(this);
    return *plot;
}

// ---- Rows

void WatchWindow::SetRows(std::vector<WatchRow> newRows) {
    for (WatchRow& row : newRows) FitFormat(row);
    rows = std::move(newRows);
    notes.assign(rows.size(), {});
    showing = true;
    table->setRowCount(static_cast<int>(rows.size()));
    showing = false;
    for (int row = 0; row < static_cast<int>(rows.size()); ++row) ShowRow(row);
    table->resizeColumnsToContents();
    // The columns filled by polling are empty now: wide enough for what comes.
    const QFontMetrics metrics = table->fontMetrics();
    const auto atLeast = [&](int column, const QString& sample) {
        table->setColumnWidth(
            column, std::max(table->columnWidth(column), metrics.horizontalAdvance(sample) + 12));
    };
    atLeast(StateColumn,
            FromUtf8(WatchPoller::WriteFailedText).arg(FromUtf8("异常 02 非法数据地址")));
    atLeast(LastGoodColumn, QStringLiteral("00:00:00.000"));
    if (plot) plot->Clear();
    PointsChanged();
}

void WatchWindow::AddRow(int after) {
    std::vector<WatchRow> next = rows;
    const int at = after < 0 || after >= static_cast<int>(rows.size())
                       ? static_cast<int>(rows.size())
                       : after + 1;
    WatchRow row;
    if (at > 0) {
        row = rows[static_cast<size_t>(at - 1)];
        row.label.clear();
        row.address = std::min(0xFFFF, row.address + RegisterValue::Width(row.format));
    }
    next.insert(next.begin() + at, row);
    SetRows(std::move(next));
    table->setCurrentCell(at, LabelColumn);
}

void WatchWindow::RemoveRows(std::vector<int> indices) {
    std::sort(indices.begin(), indices.end(), std::greater<>());
    indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
    std::vector<WatchRow> next = rows;
    for (int index : indices)
        if (index >= 0 && index < static_cast<int>(next.size())) next.erase(next.begin() + index);
    SetRows(std::move(next));
}

void WatchWindow::PointsChanged() {
    std::vector<PollPoint> points;
    for (const WatchRow& row : rows) points.push_back(PointOf(row));
    poller->SetPoints(std::move(points));
    notes.resize(rows.size());
    if (Logging() && logColumns != rows.size()) {
        StopLog();
        message->setText(FromUtf8(LogEndedText));
    }
    ShowValues();
}

void WatchWindow::ShowRow(int index) {
    const WatchRow& row = rows[static_cast<size_t>(index)];
    const bool ordered = RegisterValue::HasOrder(row.format.format);
    const bool text = row.format.format == RegisterFormat::Text;
    const QString cells[] = {
        row.label,
        QString::number(row.station),
        FromUtf8(kFunctionTexts[std::clamp(row.function, 1, 4) - 1]),
        QString::number(row.address),
        Latin(RegisterValue::FormatName(row.format.format)),
        ordered ? Latin(RegisterValue::OrderName(row.format.order)) : QString(),
        text ? QString::number(row.format.textRegisters) : QString(),
        Number(row.format.scale),
        Number(row.format.offset),
        row.unit,
    };
    showing = true;
    for (int column = 0; column < ColumnCount; ++column) {
        QTableWidgetItem* item = table->item(index, column);
        if (!item) {
            item = new QTableWidgetItem;
            Qt::ItemFlags flags = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
            if (Editable(column)) flags |= Qt::ItemIsEditable;
            if (column == PlotColumn) flags |= Qt::ItemIsUserCheckable;
            item->setFlags(flags);
            table->setItem(index, column, item);
        }
        if (column < ValueColumn) item->setText(cells[column]);
        if (column == PlotColumn) item->setCheckState(row.plotted ? Qt::Checked : Qt::Unchecked);
    }
    showing = false;
}

QString WatchWindow::CellText(int row, Column column) const {
    const QTableWidgetItem* item = table->item(row, column);
    return item ? item->text() : QString();
}

void WatchWindow::OnItemChanged(QTableWidgetItem* item) {
    if (showing) return;
    const int index = item->row();
    if (index < 0 || index >= static_cast<int>(rows.size())) return;
    WatchRow row = rows[static_cast<size_t>(index)];
    const QString text = item->text().trimmed();
    QString refusal;
    const auto integer = [&](int& field, int low, int high) {
        bool ok = false;
        const int value = text.toInt(&ok);
        if (ok && value >= low && value <= high)
            field = value;
        else
            refusal = FromUtf8(RangeText).arg(low).arg(high);
    };
    const auto real = [&](double& field) {
        bool ok = false;
        const double value = text.toDouble(&ok);
        if (ok && std::isfinite(value) && (value != 0.0 || &field != &row.format.scale))
            field = value;
        else
            refusal = FromUtf8(NumberText);
    };
    switch (item->column()) {
        case LabelColumn:
            row.label = item->text();
            break;
        case StationColumn:
            integer(row.station, 1, 247);
            break;
        case FunctionColumn:
            row.function = std::clamp(text.left(2).toInt(), 1, 4);
            break;
        case AddressColumn:
            integer(row.address, 0, 0xFFFF);
            break;
        case FormatColumn:
            row.format.format =
                RegisterValue::FormatNamed(text.toStdString()).value_or(row.format.format);
            break;
        case OrderColumn:
            row.format.order =
                RegisterValue::OrderNamed(text.toStdString()).value_or(row.format.order);
            break;
        case LengthColumn:
            if (row.format.format == RegisterFormat::Text)
                integer(row.format.textRegisters, 1, RegisterValue::kMaxTextRegisters);
            break;
        case ScaleColumn:
            real(row.format.scale);
            break;
        case OffsetColumn:
            real(row.format.offset);
            break;
        case UnitColumn:
            row.unit = item->text();
            break;
        case PlotColumn:
            row.plotted = item->checkState() == Qt::Checked;
            if (!row.plotted && plot) plot->Remove(index);
            break;
        default:
            return;
    }
    message->setText(refusal);
    FitFormat(row);
    const bool pointChanged =
        !refusal.isEmpty() || PointOf(row).address != PointOf(rows[size_t(index)]).address ||
        PointOf(row).count != PointOf(rows[size_t(index)]).count ||
        row.station != rows[size_t(index)].station || row.function != rows[size_t(index)].function;
    rows[static_cast<size_t>(index)] = row;
    // Shown again as it holds now: a refused text goes back to what it was.
    QTimer::singleShot(0, this, [this, index] {
        if (index < static_cast<int>(rows.size())) ShowRow(index);
    });
    if (pointChanged) PointsChanged();
    ShowValues();
}

void WatchWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Insert) return AddRow(table->currentRow());
    // An open editor takes its keys itself; these come from the table.
    if (event->key() == Qt::Key_Delete) {
        std::vector<int> selected;
        for (const QModelIndex& index : table->selectionModel()->selectedRows())
            selected.push_back(index.row());
        return RemoveRows(std::move(selected));
    }
    QWidget::keyPressEvent(event);
}

// ---- Polling

void WatchWindow::StartPolling(int intervalMs) {
    interval->setValue(intervalMs);
    poller->Start(intervalMs);
    poll->setChecked(true);
    marks->start();
}

void WatchWindow::StopPolling() {
    poller->Stop();
    poll->setChecked(false);
    marks->stop();
}

void WatchWindow::hideEvent(QHideEvent* event) {
    // A watch nobody sees does not hold the line.
    StopPolling();
    QWidget::hideEvent(event);
}

void WatchWindow::ShowValues() {
    const int64_t now = SteadyMs();
    showing = true;
    const auto set = [&](int row, int column, const QString& text) {
        QTableWidgetItem* item = table->item(row, column);
        if (item && item->text() != text) item->setText(text);
    };
    // The rows of one read share their time: the local time (a look at the
    // zone file each) is made once for them.
    int64_t timeMs = 0;
    QString timeText;
    const auto localTime = [&](int64_t ms) {
        if (ms != timeMs) {
            timeMs = ms;
            timeText = QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("HH:mm:ss.zzz"));
        }
        return timeText;
    };
    for (int index = 0; index < static_cast<int>(rows.size()); ++index) {
        if (static_cast<size_t>(index) >= poller->Points().size()) break;
        const WatchRow& row = rows[static_cast<size_t>(index)];
        const WatchPoller::PointState& state = poller->StateOf(static_cast<size_t>(index));
        QString value;
        if (!state.values.empty()) {
            const RegisterValue::Reading reading = RegisterValue::Read(row.format, state.values);
            value = row.format.format == RegisterFormat::Text
                        ? FromGbk(reading.text)
                        : QString::fromStdString(reading.text);
        }
        set(index, ValueColumn, value);
        if (QTableWidgetItem* item = table->item(index, ValueColumn)) {
            const bool changed = state.changedMs != 0 && now - state.changedMs < kChangedMarkMs;
            const QBrush mark = changed ? QBrush(QColor(255, 230, 120)) : QBrush();
            if (item->background() != mark) item->setBackground(mark);
        }
        const RowNote& note = notes[static_cast<size_t>(index)];
        set(index, StateColumn,
            note.untilMs > now ? note.text : QString::fromStdString(WatchPoller::StateText(state)));
        set(index, LastGoodColumn, state.lastGoodMs ? localTime(state.lastGoodMs) : QString());
        set(index, PollsColumn,
            state.polls ? QStringLiteral("%1/%2").arg(state.good).arg(state.polls) : QString());
        set(index, ResponseColumn,
            state.responseUs >= 0 ? QString::number(state.responseUs / 1000.0, 'f', 1) : QString());
    }
    showing = false;
    const WatchPoller::Counters& totals = poller->Totals();
    counters->setText(FromUtf8(CountersText)
                          .arg(totals.requests)
                          .arg(totals.replies)
                          .arg(totals.noReply)
                          .arg(totals.exceptions)
                          .arg(totals.badChecks));
}

void WatchWindow::OnCycleDone() {
    ShowValues();
    const int64_t wallMs = QDateTime::currentMSecsSinceEpoch();
    std::vector<std::string> record{QDateTime::fromMSecsSinceEpoch(wallMs)
                                        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"))
                                        .toStdString()};
    for (size_t index = 0; index < rows.size() && index < poller->Points().size(); ++index) {
        const WatchPoller::PointState& state = poller->StateOf(index);
        const bool good = state.state == WatchPoller::State::Good;
        RegisterValue::Reading reading;
        if (good) reading = RegisterValue::Read(rows[index].format, state.values);
        if (good && rows[index].plotted && reading.number)
            Plot().Append(static_cast<int>(index), ColumnName(rows[index]), wallMs,
                          *reading.number);
        if (rows[index].format.format == RegisterFormat::Text)
            reading.text = FromGbk(reading.text).toStdString();
        record.push_back(good ? reading.text : std::string());
    }
    if (plot) plot->Refresh();
    if (!Logging()) return;
    log << CsvRecord(record);
    log.flush();
    if (!log) {
        StopLog();
        ShowMessageBox(FromUtf8(WriteFailedMessage)
                           .arg(QString(), QString::fromLocal8Bit(std::strerror(errno)))
                           .toStdString());
    }
}

// ---- Writing

void WatchWindow::OnDoubleClick(int row, int column) {
    if (column != ValueColumn || row < 0 || row >= static_cast<int>(rows.size())) return;
    const WatchRow& watched = rows[static_cast<size_t>(row)];
    if (watched.function != 1 && watched.function != 3) {
        Note(row, FromUtf8(WatchPoller::NotWritableText));
        return;
    }
    bool ok = false;
    const QString text = QInputDialog::getText(this, FromUtf8(WriteCaption), ColumnName(watched),
                                               QLineEdit::Normal, CellText(row, ValueColumn), &ok);
    if (ok) WriteValue(row, text);
}

bool WatchWindow::WriteValue(int row, const QString& text) {
    if (row < 0 || row >= static_cast<int>(rows.size())) return false;
    const ValueFormat& format = rows[static_cast<size_t>(row)].format;
    std::string error;
    const std::string typed =
        format.format == RegisterFormat::Text ? ToGbk(text) : text.toStdString();
    std::optional<std::vector<uint16_t>> values = RegisterValue::Parse(format, typed, error);
    if (!values || !poller->Write(static_cast<size_t>(row), std::move(*values), error)) {
        Note(row, FromUtf8(WatchPoller::WriteFailedText).arg(QString::fromStdString(error)));
        return false;
    }
    return true;
}

void WatchWindow::OnWritten(int point, const QString& error) {
    Note(point, error.isEmpty() ? FromUtf8(WrittenText) : error);
}

void WatchWindow::Note(int row, const QString& text) {
    if (row < 0 || static_cast<size_t>(row) >= notes.size()) return;
    notes[static_cast<size_t>(row)] = {text, SteadyMs() + kNoteMs};
    ShowValues();
}

// ---- Keeping a watch

bool WatchWindow::SaveList(const QString& path, QString& error) const {
    QJsonArray list;
    for (const WatchRow& row : rows) {
        QJsonObject object{
            {"label", row.label},
            {"station", row.station},
            {"function", row.function},
            {"address", row.address},
            {"format", Latin(RegisterValue::FormatName(row.format.format))},
            {"order", Latin(RegisterValue::OrderName(row.format.order))},
            {"registers", row.format.textRegisters},
            {"scale", row.format.scale},
            {"offset", row.format.offset},
            {"unit", row.unit},
            {"plot", row.plotted},
        };
        list.append(object);
    }
    const QJsonObject document{
        {"talvenorWatch", 1}, {"intervalMs", interval->value()}, {"rows", list}};
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(document).toJson()) < 0 ||
        !file.commit()) {
        error = file.errorString();
        return false;
    }
    return true;
}

bool WatchWindow::LoadList(const QString& path, QString& error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = file.errorString();
        return false;
    }
    QJsonParseError parse;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parse);
    const QJsonObject top = document.object();
    if (parse.error != QJsonParseError::NoError || !top.value("rows").isArray()) {
        error =
            parse.error != QJsonParseError::NoError ? parse.errorString() : FromUtf8(NotAListText);
        return false;
    }
    std::vector<WatchRow> loaded;
    for (const QJsonValue value : top.value("rows").toArray()) {
        const QJsonObject object = value.toObject();
        WatchRow row;
        row.label = object.value("label").toString();
        row.station = object.value("station").toInt(-1);
        row.function = object.value("function").toInt(-1);
        row.address = object.value("address").toInt(-1);
        const auto format =
            RegisterValue::FormatNamed(object.value("format").toString().toStdString());
        const auto order =
            RegisterValue::OrderNamed(object.value("order").toString("ABCD").toStdString());
        row.format.textRegisters = object.value("registers").toInt(1);
        row.format.scale = object.value("scale").toDouble(1.0);
        row.format.offset = object.value("offset").toDouble(0.0);
        row.unit = object.value("unit").toString();
        row.plotted = object.value("plot").toBool();
        if (!format || !order || row.station < 1 || row.station > 247 || row.function < 1 ||
            row.function > 4 || row.address < 0 || row.address > 0xFFFF ||
            row.format.textRegisters < 1 ||
            row.format.textRegisters > RegisterValue::kMaxTextRegisters ||
            row.format.scale == 0.0) {
            error = FromUtf8(NotAListText) + QStringLiteral(" (%1)").arg(loaded.size() + 1);
            return false;
        }
        row.format.format = *format;
        row.format.order = *order;
        loaded.push_back(row);
    }
    const int ms = top.value("intervalMs").toInt(interval->value());
    interval->setValue(std::clamp(ms, interval->minimum(), interval->maximum()));
    SetRows(std::move(loaded));
    return true;
}

bool WatchWindow::StartLog(const QString& path, QString& error) {
    StopLog();
    log.open(path.toLocal8Bit().toStdString(), std::ios::out | std::ios::app | std::ios::binary);
    if (!log) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        log = {};
        return false;
    }
    std::vector<std::string> header{"时间"};
    for (const WatchRow& row : rows) header.push_back(ColumnName(row).toStdString());
    log << CsvRecord(header);
    log.flush();
    logColumns = rows.size();
    logBox->setChecked(true);
    return true;
}

void WatchWindow::StopLog() {
    if (log.is_open()) log.close();
    log.clear();
    logBox->setChecked(false);
}
