#include "app/FramesWindow.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QClipboard>
#include <QColor>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QTabWidget>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>

#include "serial/SystemError.h"
#include "tools/CsvFile.h"
#include "tools/MessageBox.h"
#include "trace/FrameList.h"
#include "ui/GbkText.h"

namespace {

const char* const kHeaders[] = {"时间", "方向", "站号", "功能", "内容", "校验", "响应(ms)"};
constexpr int kColumns = 7;
const int kWidths[kColumns] = {96, 40, 40, 40, 440, 72, 64};

const std::string& Cell(const FrameRow& row, int column) {
    const std::string* cells[kColumns] = {&row.time, &row.direction, &row.station, &row.function,
                                          &row.says, &row.check,     &row.response};
    return *cells[column];
}

}  // namespace

// The rows from the list's number `first` on; the list is read, never copied.
class FramesModel : public QAbstractTableModel {
public:
    explicit FramesModel(FrameList& frames, QObject* parent)
        : QAbstractTableModel(parent), list(frames), first(frames.First()), next(first) {}

    int rowCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : static_cast<int>(next - first);
    }
    int columnCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : kColumns;
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
        return QString::fromUtf8(kHeaders[section]);
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !index.isValid()) return {};
        const FrameRow* row = RowAt(index.row());
        return row ? FromUtf8(Cell(*row, index.column())) : QVariant();
    }

    const FrameRow* RowAt(int index) const {
        const uint64_t number = first + static_cast<uint64_t>(index);
        // A row is asked for once per cell: the last one is kept.
        if (cachedNumber != number || !cachedValid) {
            cachedValid = list.Row(number, cached);
            cachedNumber = number;
        }
        return cachedValid ? &cached : nullptr;
    }

    uint64_t First() const { return first; }
    uint64_t Next() const { return next; }

    // Follows the list: the oldest rows it dropped go, its new ones come.
    void Follow() {
        const uint64_t listFirst = list.First(), listNext = list.Next();
        if (listFirst > first) {
            const uint64_t gone = std::min(listFirst, next) - first;
            if (gone > 0) {
                beginRemoveRows({}, 0, static_cast<int>(gone) - 1);
                first += gone;
                endRemoveRows();
            }
            first = listFirst;
            next = std::max(next, first);
        }
        if (listNext > next) {
            beginInsertRows({}, static_cast<int>(next - first),
                            static_cast<int>(listNext - first) - 1);
            next = listNext;
            endInsertRows();
        }
        cachedValid = false;
    }

private:
    FrameList& list;
    uint64_t first, next;
    mutable FrameRow cached;
    mutable uint64_t cachedNumber = 0;
    mutable bool cachedValid = false;
};

// The statistics: one row a station, taken from the list while its tab shows.
class StationsModel : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : static_cast<int>(rows.size());
    }
    int columnCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : static_cast<int>(StationStats::Headers().size());
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
        return FromUtf8(StationStats::Headers()[section]);
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid()) return {};
        const StationRow& row = rows[index.row()];
        // A station asked and never answering stands out at once.
        if (role == Qt::BackgroundRole && row.silent) return QColor(255, 190, 190);
        if (role != Qt::DisplayRole) return {};
        return FromUtf8(StationStats::Cells(row)[index.column()]);
    }

    void Set(std::vector<StationRow> newRows) {
        const bool sameStations = newRows.size() == rows.size() &&
                                  std::equal(rows.begin(), rows.end(), newRows.begin(),
                                             [](const StationRow& a, const StationRow& b) {
                                                 return a.station == b.station;
                                             });
        if (!sameStations) beginResetModel();
        rows = std::move(newRows);
        if (!sameStations)
            endResetModel();
        else if (!rows.empty())
            emit dataChanged(index(0, 0), index(rowCount({}) - 1, columnCount({}) - 1));
    }
    const std::vector<StationRow>& Rows() const { return rows; }

private:
    std::vector<StationRow> rows;
};

FramesWindow::FramesWindow(FrameList& frameList, QWidget* owner)
    : QWidget(owner, Qt::Window), list(frameList) {
    setWindowTitle(FromUtf8(Caption));
    model = new FramesModel(list, this);
    view = new QTreeView(this);
    view->setModel(model);
    view->setRootIsDecorated(false);
    view->setItemsExpandable(false);
    view->setUniformRowHeights(true);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setContextMenuPolicy(Qt::NoContextMenu);
    for (int column = 0; column < kColumns; ++column) view->setColumnWidth(column, kWidths[column]);

    stations = new StationsModel(this);
    stationView = new QTreeView(this);
    stationView->setModel(stations);
    stationView->setRootIsDecorated(false);
    stationView->setItemsExpandable(false);
    stationView->setUniformRowHeights(true);
    stationView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    for (int column = 0; column < stations->columnCount({}); ++column)
        stationView->setColumnWidth(column, column == 0 ? 72 : column == 5 ? 88 : 64);
    tabs = new QTabWidget(this);
    tabs->addTab(view, FromUtf8(FramesTabText));
    tabs->addTab(stationView, FromUtf8(StationsTabText));
    connect(tabs, &QTabWidget::currentChanged, this, &FramesWindow::ShowStations);

    counters = new QLabel(this);
    timing = new QLabel(this);
    lineStatus = new QLabel(this);
    auto* lineControl = new QPushButton(FromUtf8(LineControlText), this);
    connect(lineControl, &QPushButton::clicked, this, &FramesWindow::lineControlAsked);
    auto* save = new QPushButton(FromUtf8(SaveText), this);
    connect(save, &QPushButton::clicked, this, &FramesWindow::Save);
    auto* zero = new QPushButton(FromUtf8(ZeroText), this);
    connect(zero, &QPushButton::clicked, this, [this] {
        list.ZeroCounters();
        ShowCounters();
        ShowStations();
    });
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(counters, 1);
    bottom->addWidget(timing);
    bottom->addWidget(lineStatus);
    bottom->addWidget(lineControl);
    bottom->addWidget(save);
    bottom->addWidget(zero);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs, 1);
    layout->addLayout(bottom);
    resize(900, 420);

    auto* copy = new QShortcut(QKeySequence::Copy, view);
    connect(copy, &QShortcut::activated, this, &FramesWindow::CopySelection);

    refresh = new QTimer(this);
    refresh->setInterval(kRefreshMs);
    connect(refresh, &QTimer::timeout, this, &FramesWindow::Refresh);
    ShowCounters();
}

void FramesWindow::Open() {
    list.ZeroCounters();
    Refresh();
    show();
    raise();
    activateWindow();
}

// Hidden, the window costs nothing: it catches up when shown again.
void FramesWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refresh->start();
}

void FramesWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    refresh->stop();
}

void FramesWindow::Refresh() {
    QScrollBar* bar = view->verticalScrollBar();
    // Kept at the newest row unless the user scrolled up to read.
    const bool following = bar->value() >= bar->maximum();
    model->Follow();
    if (following) view->scrollToBottom();
    ShowCounters();
    ShowStations();
    if (lineStatusText) lineStatus->setText(lineStatusText());
}

void FramesWindow::SetLineStatus(std::function<QString()> status) {
    lineStatusText = std::move(status);
    lineStatus->setText(lineStatusText ? lineStatusText() : QString());
}

QString FramesWindow::LineStatusShown() const { return lineStatus->text(); }

void FramesWindow::ShowStations() {
    // Nobody looks at a hidden tab: the list is not asked then.
    if (tabs->currentWidget() == stationView) stations->Set(list.Stations());
}

void FramesWindow::Save() {
    Refresh();
    const bool framesShown = tabs->currentWidget() == view;
    // Where the last save went, else the home directory; never the toolkit's
    // remembered one, which may be a directory whose files block a reader.
    QFileDialog dialog(this, FromUtf8(framesShown ? SaveFramesCaption : SaveStationsCaption),
                       saveDirectory.isEmpty() ? QDir::homePath() : saveDirectory,
                       FromUtf8(CsvFilter));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    dialog.selectFile(QLatin1String(framesShown ? "frames.csv" : "stations.csv"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    const QString path = dialog.selectedFiles().front();

    // The rows the window holds; the list may have taken more since.
    int error = 0;
    if (framesShown) {
        uint64_t number = model->First();
        const uint64_t end = model->Next();
        error = WriteCsvFile(QFile::encodeName(path).toStdString(), FrameList::FileHeaders(),
                             [&](std::vector<std::string>& cells) {
                                 while (number < end)
                                     if (list.FileRecord(number++, cells)) return true;
                                 return false;
                             });
    } else {
        size_t index = 0;
        const std::vector<StationRow>& rows = stations->Rows();
        error = WriteCsvFile(QFile::encodeName(path).toStdString(), StationStats::Headers(),
                             [&](std::vector<std::string>& cells) {
                                 if (index == rows.size()) return false;
                                 cells = StationStats::Cells(rows[index++]);
                                 return true;
                             });
    }
    if (error == 0)
        saveDirectory = QFileInfo(path).absolutePath();
    else
        ShowMessageBox(FromUtf8(SaveFailedMessage)
                           .arg(path, QString::fromStdString(SystemErrorText(error)))
                           .toStdString(),
                       {}, MessageIcon::Warning);
}

void FramesWindow::ShowCounters() {
    const FrameCounters count = list.Counters();
    counters->setText(FromUtf8(CountersText)
                          .arg(count.requests)
                          .arg(count.replies)
                          .arg(count.noReply)
                          .arg(count.unpaired)
                          .arg(count.badChecks)
                          .arg(count.exceptions));
}

QString FramesWindow::CountersShown() const { return counters->text(); }

void FramesWindow::SetAdapterLatency(int ms) {
    timing->setText(ms > 1 ? FromUtf8(TimingText).arg(ms) : QString());
}

QString FramesWindow::TimingShown() const { return timing->text(); }

QString FramesWindow::SelectedText() const {
    QModelIndexList rows = view->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QStringList lines;
    for (const QModelIndex& index : rows)
        if (const FrameRow* row = model->RowAt(index.row()))
            lines << FromUtf8(FrameList::RowText(*row));
    return lines.join(QLatin1Char('\n'));
}

void FramesWindow::CopySelection() {
    const QString text = SelectedText();
    if (!text.isEmpty()) QApplication::clipboard()->setText(text);
}

void FramesWindow::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    QAction* copy = menu.addAction(FromUtf8(CopyText));
    copy->setShortcut(QKeySequence::Copy);
    copy->setEnabled(view->selectionModel()->hasSelection());
    if (menu.exec(event->globalPos()) == copy) CopySelection();
}
