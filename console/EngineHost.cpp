#include "EngineHost.h"

#include <QCoreApplication>
#include <QMetaObject>

#include "Nelo.MQTT.Client.h"

void HostEngineHandOffs() {
  NeloSetMainThread();
  NeloSetWakeMainThread([] {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [] { NeloCheckSynchronize(0); }, Qt::QueuedConnection);
  });
}

void StopHostingEngineHandOffs() { NeloSetWakeMainThread(nullptr); }
