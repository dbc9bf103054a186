#pragma once

#include "ui/design/FrameClock.h"

#include <QColor>
#include <QPointF>
#include <QPointer>
#include <QQuickItem>
#include <QRandomGenerator>
#include <QtQml/qqmlregistration.h>

#include <vector>

// One glowing dot: it rises from the bottom edge over its own cycle, fading in over the first
// fifth and out over the rest, growing from 0.6 to 1.1 of its radius.
struct Particle
{
    double xFraction = 0;   // of the canvas width
    double radius = 0;      // logical pixels
    QColor hue;
    double peakOpacity = 0;
    double birthTime = 0;   // seconds on the frame clock
    double cycleDuration = 0;
};

// One particle as drawn at some instant: a disc whose colour carries alpha² (the layer's opacity
// and the colour's alpha, both the particle's alpha at that instant).
struct ParticleDot
{
    QPointF centre;
    double radius = 0;
    QColor color;
};

// The field of rising dots. The particles are made once (at completion) with the frame clock's
// time; when not animating the canvas shows the still frame at `staticNow`, the instant taken
// right after the particles were made. While animating it redraws on every frame-clock tick.
// The dots are scene-graph geometry (antialiased discs with vertex colours), so a tick moves a
// few hundred vertices instead of repainting and uploading a canvas-sized image; the software
// renderer draws no custom geometry and shows no dots.
class ParticleCanvas : public QQuickItem
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(bool isAnimating READ isAnimating WRITE setAnimating NOTIFY isAnimatingChanged)
    Q_PROPERTY(int particleCount READ particleCount WRITE setParticleCount NOTIFY particleCountChanged)
    Q_PROPERTY(FrameClock *frameClock READ frameClock WRITE setFrameClock NOTIFY frameClockChanged)
    Q_PROPERTY(double drawnTime READ drawnTime NOTIFY drawnTimeChanged)

public:
    // A negative count gives no particles.
    static std::vector<Particle> makeParticles(int count, double now,
                                               QRandomGenerator &random = *QRandomGenerator::global());
    // The particles as they are at time t on a canvas of the given size: only those with some
    // alpha (> 0.001) and some part on the canvas.
    static std::vector<ParticleDot> dotsAt(QSizeF size, double t, const std::vector<Particle> &particles);
    // Draws the particles as they are at time t on a canvas of the given size (the same dots).
    static void drawParticles(QPainter &painter, QSizeF size, double t, const std::vector<Particle> &particles);

    explicit ParticleCanvas(QQuickItem *parent = nullptr);
    ~ParticleCanvas() override;

    bool isAnimating() const { return m_animating; }
    void setAnimating(bool animating);
    int particleCount() const { return m_count; }
    void setParticleCount(int count);
    FrameClock *frameClock() const { return m_clock; }
    void setFrameClock(FrameClock *clock);

    const std::vector<Particle> &particles() const { return m_particles; }
    double staticNow() const { return m_staticNow; }
    // The time of the frame on screen.
    double drawnTime() const { return m_time; }


signals:
    void isAnimatingChanged();
    void particleCountChanged();
    void frameClockChanged();
    void drawnTimeChanged();

protected:
    void componentComplete() override;
    void geometryChange(const QRectF &newGeometry, const QRectF &oldGeometry) override;
    QSGNode *updatePaintNode(QSGNode *old, UpdatePaintNodeData *) override;

private:
    void resubscribe();
    void showTime(double t);

    bool m_animating = false;
    int m_count = 46;
    bool m_made = false;
    std::vector<Particle> m_particles;
    double m_staticNow = 0;
    double m_time = 0;
    QPointer<FrameClock> m_clock;
    QMetaObject::Connection m_tickConnection;
};
