#pragma once

#include <QByteArray>
#include <QString>

#include <utility>

// A local file to attach, with its size and MD5 when they are already known
// (taken while it downloaded). Without a digest the builder computes it; a
// file that no longer has that size is not attached.
struct DownloadedAsset
{
    DownloadedAsset(QString filePath = {}, QByteArray digest = {}, qint64 byteCount = -1)
        : path(std::move(filePath)), md5(std::move(digest)), size(byteCount)
    {
    }

    QString path;
    QByteArray md5;
    qint64 size;
};
