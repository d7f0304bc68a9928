#pragma once

#include <QByteArray>
#include <QString>

#include <utility>

// A local file to attach, with its size and MD5 when they are already known
// (taken while it downloaded), and the device and inode of the file the
// download committed (0: none recorded). Without a digest the builder
// computes it; a file that no longer has that size, or is not that very file
// (replaced, or reached through a folder swapped for a link), is not attached.
struct DownloadedAsset
{
    DownloadedAsset(QString filePath = {}, QByteArray digest = {}, qint64 byteCount = -1, quint64 fileDevice = 0,
                    quint64 fileInode = 0)
        : path(std::move(filePath)), md5(std::move(digest)), size(byteCount), device(fileDevice), inode(fileInode)
    {
    }

    QString path;
    QByteArray md5;
    qint64 size;
    quint64 device;
    quint64 inode;
};
