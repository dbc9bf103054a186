#pragma once

#include <QObject>

// The application's one toast service. For now it only exists so that the session can be built
// with it and hand it on; it holds no toast.
class ToastCenter : public QObject
{
    Q_OBJECT
public:
    explicit ToastCenter(QObject *parent = nullptr);
    ~ToastCenter() override;

    bool hasCurrent() const { return false; }
};
