#pragma once

#include <QByteArray>
#include <QString>

#include <utility>

// A local file to attach, with the MD5 of its first `size` bytes when that is
// already known (taken while it downloaded). Without a digest, or when the
// file no longer has that size, the builder computes it.
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
