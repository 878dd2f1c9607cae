// The frames window: the line as Modbus frames, one row a frame, newest at
// the bottom, with the counters since it opened. Modeless; it shows what the
// frame list holds and keeps no rule of its own.
#pragma once

#include <QWidget>

#include <array>
#include <functional>

class FrameList;
class FramesModel;
class StationsModel;
class QLabel;
class QTabWidget;
class QTimer;
class QTreeView;

class FramesWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr std::string_view Caption = "Modbus 帧列表";
    static constexpr std::string_view ZeroText = "清  零";
    static constexpr std::string_view CopyText = "复制(&C)";
    // %1 requests, %2 replies, %3 no reply, %4 bad checks, %5 exceptions.
    static constexpr std::string_view CountersText =
        "请求 %1    应答 %2    无应答 %3    未配对 %4    校验错误 %5    异常 %6";
    static constexpr int kRefreshMs = 100;
    // How exact the times are on an adapter that holds bytes back: %1 ms.
    static constexpr std::string_view TimingText = "时间精度 ±%1 ms";
    static constexpr std::string_view FramesTabText = "帧";
    static constexpr std::string_view StationsTabText = "站点统计";
    static constexpr std::string_view SaveText = "保存...";
    static constexpr std::string_view SaveFramesCaption = "保存帧";
    static constexpr std::string_view SaveStationsCaption = "保存站点统计";
    static constexpr std::string_view CsvFilter = "CSV 文件 (*.csv)";
    // %1 the file, %2 why.
    static constexpr std::string_view SaveFailedMessage = "无法保存 %1：%2";

    FramesWindow(FrameList& list, QWidget* owner);

    // Shows the window, counting from now.
    void Open();
    // The selected rows as text, a line each, cells between tabs.
    QString SelectedText() const;
    QTreeView& View() const { return *view; }
    // The statistics: a row per station seen, on the second tab.
    QTreeView& StationView() const { return *stationView; }
    QTabWidget& Tabs() const { return *tabs; }
    QString CountersShown() const;
    // Takes what the list holds now; the timer does this on its own.
    void Refresh();
    // The adapter's latency timer, as its driver publishes it; -1 or 1 or
    // less: nothing to say (a pseudo-terminal, a timer lowered to 1 ms).
    void SetAdapterLatency(int ms);
    QString TimingShown() const;
    // The line's own state beside the counters (listen-only, line errors),
    // asked at each refresh.
    void SetLineStatus(std::function<QString()> status);
    QString LineStatusShown() const;
    static constexpr std::string_view LineControlText = "线路控制...";

signals:
    void lineControlAsked();

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void CopySelection();
    void ShowCounters();
    void ShowStations();
    // Asks for a file and writes the current tab's table to it as CSV.
    void Save();

    FrameList& list;
    FramesModel* model;
    QTreeView* view;
    StationsModel* stations;
    QTreeView* stationView;
    QTabWidget* tabs;
    QLabel* counters;
    QLabel* timing;
    QLabel* lineStatus;
    std::function<QString()> lineStatusText;
    QString saveDirectory;
    QTimer* refresh;
};
