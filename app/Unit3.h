// The about box; created once at start and reused.
#pragma once

#include <QDialog>

class Tversion : public QDialog {
    Q_OBJECT
public:
    explicit Tversion(QWidget* parent = nullptr);
};
