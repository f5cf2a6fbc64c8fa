"""Patch archives as the publisher's server would serve them, built in memory."""
import io
import zipfile


def patch_archive(files):
    """A deflated patch.zip of {entry name: bytes}; a name ending in '/' is a folder entry."""
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data in files.items():
            archive.writestr(name, data)
    return out.getvalue()
