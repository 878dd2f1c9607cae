// The watch's trend: chosen values over time on a Qt chart, scrolling, with
// the last N minutes kept and nothing older, so that a plot left running for
// days holds the same memory as one of N minutes. It can be paused, zoomed
// with the mouse (a drag, the wheel) and saved as a PNG picture.
#pragma once

#include <QWidget>
#include <cmath>
#include <cstdint>
#include <map>

class QCheckBox;
class QChart;
class QChartView;
class QDateTimeAxis;
class QLineSeries;
class QSpinBox;
class QValueAxis;

class TrendPlot : public QWidget {
    Q_OBJECT
public:
    static constexpr std::string_view Caption = "趋势曲线";
    static constexpr std::string_view MinutesText = "保留(分钟)";
    static constexpr std::string_view PauseText = "暂停";
    static constexpr std::string_view ResetText = "复位缩放";
    static constexpr std::string_view SaveText = "保存 PNG...";
    static constexpr std::string_view PngFilter = "PNG 图片 (*.png)";
    // %1 the file.
    static constexpr std::string_view SaveFailedMessage = "无法保存 %1";
    static constexpr int kDefaultMinutes = 10;
    // A bound of its own beside the minutes: a fast poll still keeps memory flat.
    static constexpr int kMaxPoints = 20000;

    explicit TrendPlot(QWidget* owner);

    // A value of curve `key` at `wallMs` (ms since the epoch); the curve is
    // made, named `name`, the first time.
    void Append(int key, const QString& name, int64_t wallMs, double value);
    // Scrolls to the newest value unless paused or zoomed; after a poll's
    // values are appended.
    void Refresh();
    // Curve `key` is gone (its row was removed or no longer plotted).
    void Remove(int key);
    void Clear();

    void SetMinutes(int minutes);
    int Minutes() const;
    void SetPaused(bool paused);
    bool Paused() const;
    // Points curve `key` holds now; -1 when there is no such curve.
    int PointCount(int key) const;
    QChart& Chart() const { return *chart; }
    QColor CurveColor(int key) const;

    // The chart as a PNG picture; false when it cannot be written.
    bool SavePng(const QString& path) const;

private:
    void Follow(int64_t wallMs);
    void Save();

    QChart* chart;
    QChartView* view;
    QDateTimeAxis* timeAxis;
    QValueAxis* valueAxis;
    QSpinBox* minutes;
    QCheckBox* pause;
    std::map<int, QLineSeries*> curves;
    int64_t newestMs = 0;
    int64_t rangedMs = 0;
    double low = INFINITY, high = -INFINITY;  // of the values held, for the axis
};
