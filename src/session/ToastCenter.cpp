#include "session/ToastCenter.h"

ToastCenter::ToastCenter(QObject *parent) : QObject(parent) {}

ToastCenter::~ToastCenter() = default;
