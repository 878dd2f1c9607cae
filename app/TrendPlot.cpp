#include "app/TrendPlot.h"

#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QPushButton>
#include <QSpinBox>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

#include "tools/MessageBox.h"
#include "ui/GbkText.h"

TrendPlot::TrendPlot(QWidget* owner)
    : QWidget(owner, Qt::Window),
      chart(new QChart),
      view(new QChartView(chart, this)),
      timeAxis(new QDateTimeAxis(chart)),
      valueAxis(new QValueAxis(chart)),
      minutes(new QSpinBox(this)),
      pause(new QCheckBox(FromUtf8(PauseText), this)) {
    setWindowTitle(FromUtf8(Caption));
    timeAxis->setFormat(QStringLiteral("HH:mm:ss"));
    // A date axis shown before it has a range of its own draws no labels
    // afterwards (Qt Charts 6.4): it starts with the last N minutes.
    const QDateTime now = QDateTime::currentDateTime();
    timeAxis->setRange(now.addSecs(qint64{-60} * kDefaultMinutes), now);
    chart->addAxis(timeAxis, Qt::AlignBottom);
    chart->addAxis(valueAxis, Qt::AlignLeft);
    chart->legend()->setAlignment(Qt::AlignBottom);
    view->setRenderHint(QPainter::Antialiasing);
    view->setRubberBand(QChartView::RectangleRubberBand);
    minutes->setRange(1, 24 * 60);
    minutes->setValue(kDefaultMinutes);

    auto* reset = new QPushButton(FromUtf8(ResetText), this);
    auto* save = new QPushButton(FromUtf8(SaveText), this);
    auto* controls = new QHBoxLayout;
    controls->addWidget(new QLabel(FromUtf8(MinutesText), this));
    controls->addWidget(minutes);
    controls->addWidget(pause);
    controls->addWidget(reset);
    controls->addStretch();
    controls->addWidget(save);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(controls);
    layout->addWidget(view);
    resize(720, 420);

    connect(minutes, &QSpinBox::valueChanged, this, [this] { Follow(newestMs); });
    connect(pause, &QCheckBox::toggled, this, [this](bool on) {
        if (!on) Follow(newestMs);
    });
    // A zoom holds the picture still, as a pause does, until reset.
    connect(reset, &QPushButton::clicked, this, [this] {
        chart->zoomReset();
        pause->setChecked(false);
        Follow(newestMs);
    });
    connect(save, &QPushButton::clicked, this, &TrendPlot::Save);
}

void TrendPlot::Append(int key, const QString& name, int64_t wallMs, double value) {
    if (!std::isfinite(value)) return;
    QLineSeries*& curve = curves[key];
    if (!curve) {
        curve = new QLineSeries(chart);
        chart->addSeries(curve);
        curve->attachAxis(timeAxis);
        curve->attachAxis(valueAxis);
    }
    if (curve->name() != name) curve->setName(name);
    curve->append(static_cast<qreal>(wallMs), value);
    newestMs = std::max(newestMs, wallMs);
    low = std::min(low, value);
    high = std::max(high, value);
    // Older than the window, or beyond the bound of points: gone.
    const double oldest = static_cast<double>(newestMs - int64_t{Minutes()} * 60000);
    int drop = std::max(0, curve->count() - kMaxPoints);
    while (drop < curve->count() && curve->at(drop).x() < oldest) ++drop;
    if (drop > 0) curve->removePoints(0, drop);
}

void TrendPlot::Refresh() {
    if (!Paused() && !chart->isZoomed()) Follow(newestMs);
}

void TrendPlot::Follow(int64_t wallMs) {
    if (wallMs == 0) return;
    const int64_t spanMs = int64_t{Minutes()} * 60000;
    timeAxis->setRange(QDateTime::fromMSecsSinceEpoch(wallMs - spanMs),
                       QDateTime::fromMSecsSinceEpoch(wallMs));
    // Values that left the window narrow the axis again, once a second: a
    // pass over every point on every poll would cost more than the poll.
    if (wallMs - rangedMs >= 1000) {
        rangedMs = wallMs;
        low = INFINITY;
        high = -INFINITY;
        for (const auto& [key, curve] : curves) {
            for (const QPointF& point : curve->points()) {
                low = std::min(low, point.y());
                high = std::max(high, point.y());
            }
        }
    }
    if (low > high) return;
    const double margin = high > low ? (high - low) * 0.05 : std::max(1.0, std::fabs(high) * 0.05);
    valueAxis->setRange(low - margin, high + margin);
}

void TrendPlot::Remove(int key) {
    const auto found = curves.find(key);
    if (found == curves.end()) return;
    chart->removeSeries(found->second);
    delete found->second;
    curves.erase(found);
}

void TrendPlot::Clear() {
    while (!curves.empty()) Remove(curves.begin()->first);
}

void TrendPlot::SetMinutes(int value) { minutes->setValue(value); }
int TrendPlot::Minutes() const { return minutes->value(); }
void TrendPlot::SetPaused(bool paused) { pause->setChecked(paused); }
bool TrendPlot::Paused() const { return pause->isChecked(); }

int TrendPlot::PointCount(int key) const {
    const auto found = curves.find(key);
    return found == curves.end() ? -1 : found->second->count();
}

QColor TrendPlot::CurveColor(int key) const {
    const auto found = curves.find(key);
    return found == curves.end() ? QColor() : found->second->color();
}

bool TrendPlot::SavePng(const QString& path) const { return view->grab().save(path, "PNG"); }

void TrendPlot::Save() {
    const QString path =
        QFileDialog::getSaveFileName(this, FromUtf8(SaveText), QString(), FromUtf8(PngFilter));
    if (path.isEmpty() || SavePng(path)) return;
    ShowMessageBox(FromUtf8(SaveFailedMessage).arg(path).toStdString());
}
