// The watch window: a device's values as a table, a row a value in the
// engineer's own format and units, polled on the open line (WatchPoller holds
// the rule, RegisterValue the conversions), written on a double click,
// plotted (TrendPlot), kept in a file of the user's and logged as CSV.
#pragma once

#include <QString>
#include <QWidget>
#include <fstream>
#include <vector>

#include "app/WatchPoller.h"
#include "tools/RegisterValue.h"

class QCheckBox;
class QLabel;
class QSpinBox;
class QTableWidget;
class QTableWidgetItem;
class QTimer;
class TrendPlot;

struct WatchRow {
    QString label;
    int station = 1;
    int function = 3;
    int address = 0;
    ValueFormat format;
    QString unit;
    bool plotted = false;
};

class WatchWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr std::string_view Caption = "寄存器监视";
    enum Column {
        LabelColumn,
        StationColumn,
        FunctionColumn,
        AddressColumn,
        FormatColumn,
        OrderColumn,
        LengthColumn,
        ScaleColumn,
        OffsetColumn,
        UnitColumn,
        ValueColumn,
        StateColumn,
        LastGoodColumn,
        PollsColumn,
        ResponseColumn,
        PlotColumn,
        ColumnCount
    };
    static constexpr std::string_view AddText = "添加行";
    static constexpr std::string_view RemoveText = "删除行";
    static constexpr std::string_view IntervalText = "周期(ms)";
    static constexpr std::string_view PollText = "轮询";
    static constexpr std::string_view PlotText = "曲线...";
    static constexpr std::string_view OpenText = "打开...";
    static constexpr std::string_view SaveText = "保存...";
    static constexpr std::string_view LogText = "记录 CSV";
    static constexpr std::string_view WriteCaption = "写入";
    static constexpr std::string_view WrittenText = "已写入";
    static constexpr std::string_view ListFilter = "监视列表 (*.json)";
    static constexpr std::string_view CsvFilter = "CSV 文件 (*.csv)";
    // %1 requests, %2 replies, %3 no reply, %4 exceptions, %5 bad checks.
    static constexpr std::string_view CountersText =
        "请求 %1    应答 %2    无应答 %3    异常 %4    校验错误 %5";
    // %1 the file, %2 why.
    static constexpr std::string_view ReadFailedMessage = "无法读取 %1：%2";
    static constexpr std::string_view WriteFailedMessage = "无法写入 %1：%2";
    static constexpr std::string_view NotAListText = "不是监视列表";
    static constexpr std::string_view LogEndedText = "监视列表已改变，CSV 记录已停止";
    // %1 the lowest, %2 the highest.
    static constexpr std::string_view RangeText = "请填入%1到%2之间的整数";
    static constexpr std::string_view NumberText = "请填入一个数";
    static constexpr int kChangedMarkMs = 1000;
    static constexpr int kNoteMs = 5000;
    static constexpr int kDefaultIntervalMs = 1000;

    WatchWindow(FrameList& list, WatchPoller::Writer write, WatchPoller::Check lineOpen,
                WatchPoller::Check lineTaken, QWidget* owner);
    ~WatchWindow() override;

    void Open();

    const std::vector<WatchRow>& Rows() const { return rows; }
    void SetRows(std::vector<WatchRow> rows);
    // A row after `after` (-1: at the end), like the row above it one value on.
    void AddRow(int after = -1);
    void RemoveRows(std::vector<int> indices);

    void StartPolling(int intervalMs);
    void StopPolling();
    WatchPoller& Poller() const { return *poller; }
    QTableWidget& Table() const { return *table; }
    TrendPlot& Plot();
    // What a cell shows, as the user reads it.
    QString CellText(int row, Column column) const;

    // The row's value written from `text` typed in its format; false (the
    // row says why) when it cannot be sent.
    bool WriteValue(int row, const QString& text);

    // The list as JSON, and back; false with `error` set when it fails.
    bool SaveList(const QString& path, QString& error) const;
    bool LoadList(const QString& path, QString& error);
    // Logs every poll to `path` as CSV from now on, until StopLog.
    bool StartLog(const QString& path, QString& error);
    void StopLog();
    bool Logging() const { return log.is_open(); }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void ShowRow(int row);
    void ShowValues();
    void OnItemChanged(QTableWidgetItem* item);
    void OnDoubleClick(int row, int column);
    void OnWritten(int point, const QString& error);
    void OnCycleDone();
    void PointsChanged();
    void Note(int row, const QString& text);

    std::vector<WatchRow> rows;
    struct RowNote {
        QString text;
        int64_t untilMs = 0;
    };
    std::vector<RowNote> notes;
    WatchPoller* poller;
    QTableWidget* table;
    QSpinBox* interval;
    QCheckBox* poll;
    QCheckBox* logBox;
    QLabel* counters;
    QLabel* message;
    QTimer* marks;
    TrendPlot* plot = nullptr;
    std::ofstream log;
    size_t logColumns = 0;
    bool showing = false;  // the table is being filled: its edits are not the user's
};
