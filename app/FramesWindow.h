// The frames window: the line as Modbus frames, one row a frame, newest at
// the bottom, with the counters since it opened. Modeless; it shows what the
// frame list holds and keeps no rule of its own.
#pragma once

#include <QWidget>

#include <array>

class FrameList;
class FramesModel;
class QLabel;
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
        "请求 %1    应答 %2    无应答 %3    校验错误 %4    异常 %5";
    static constexpr int kRefreshMs = 100;

    FramesWindow(FrameList& list, QWidget* owner);

    // Shows the window, counting from now.
    void Open();
    // The selected rows as text, a line each, cells between tabs.
    QString SelectedText() const;
    QTreeView& View() const { return *view; }
    QString CountersShown() const;
    // Takes what the list holds now; the timer does this on its own.
    void Refresh();

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void CopySelection();
    void ShowCounters();

    FrameList& list;
    FramesModel* model;
    QTreeView* view;
    QLabel* counters;
    QTimer* refresh;
};
