-- The track table of zeloro.sqlite. Times are stored as fixed-width UTC text "yyyy-mm-dd hh:nn:ss", so
-- text order is time order and both lookups (one second, or a window) are index range scans.
CREATE TABLE gpx (
    lat TEXT,
    lon TEXT,
    utctime DATETIME
);
CREATE INDEX gpx_utctime ON gpx (utctime);
