#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <memory>

// What the service makes of one request, before it goes on the wire.
struct DevReply {
    enum class Delivery {
        Whole,    // the reply as it is
        Drop,     // the connection is closed without a reply
        Truncate, // headers promise the whole reply, half of it is sent, then the connection is closed
    };

    int status = 200;
    QByteArray contentType;
    QByteArray body;
    std::shared_ptr<QFile> file; // when set, its content is the reply body, read as it is sent
    qint64 fileSize = 0;
    Delivery delivery = Delivery::Whole;
    QString note; // what happened, for the console log

    qint64 size() const { return file ? fileSize : body.size(); }

    static DevReply text(const QByteArray& body, const QString& note = QString()) {
        return DevReply{200, QByteArrayLiteral("text/plain; charset=UTF-8"), body, nullptr, 0, Delivery::Whole, note};
    }
    static DevReply json(const QByteArray& body, const QString& note = QString()) {
        return DevReply{200, QByteArrayLiteral("application/json"), body, nullptr, 0, Delivery::Whole, note};
    }
    static DevReply html(const QByteArray& body, int status = 200) {
        return DevReply{status, QByteArrayLiteral("text/html; charset=UTF-8"), body, nullptr, 0, Delivery::Whole, {}};
    }
};
