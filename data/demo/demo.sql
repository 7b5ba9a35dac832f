-- The demo database: a small shop's data as it comes in from several hands,
-- with the mess Quorvane is for: double and trailing blanks, phone numbers
-- with dashes and blanks, notes with line breaks and tabs, and Nulls.
PRAGMA journal_mode = DELETE;

CREATE TABLE "Customers" (
    "CustomerId" INTEGER PRIMARY KEY,
    "FullName" VARCHAR(60),
    "Phone" VARCHAR(30),
    "City" VARCHAR(40),
    "Notes" VARCHAR(400)
);

CREATE TABLE "Products" (
    "Sku" VARCHAR(20),
    "Title" VARCHAR(80),
    "Price" VARCHAR(20)
);

CREATE TABLE "Order Notes" (
    "OrderNo" VARCHAR(20),
    "Delivery note" VARCHAR(400)
);

CREATE TABLE first_names (n INTEGER PRIMARY KEY, name TEXT);
INSERT INTO first_names (name) VALUES
    ('Anna'), ('Bob'), ('Chloé'), ('Dmitri'), ('Eve'), ('Fatima'), ('George'),
    ('Hanna'), ('Ivan'), ('Julia'), ('Kenji'), ('Laura'), ('Mohammed'), ('Nora'),
    ('Oskar'), ('Priya'), ('Quentin'), ('Rosa'), ('Sven'), ('Tariq');
CREATE TABLE last_names (n INTEGER PRIMARY KEY, name TEXT);
INSERT INTO last_names (name) VALUES
    ('Smith'), ('O''Neil'), ('Müller'), ('García'), ('Kowalski'), ('Nakamura'),
    ('Johansson'), ('Dubois'), ('Rossi'), ('Van der Berg'), ('Ahmed'), ('Novak');
CREATE TABLE cities (n INTEGER PRIMARY KEY, name TEXT);
INSERT INTO cities (name) VALUES
    ('Berlin'), ('  Lyon'), ('São Paulo '), ('New  York'), ('Oslo'), (NULL), ('Kraków'),
    ('Cape   Town'), ('Osaka'), ('Dublin  ');

WITH RECURSIVE seq(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM seq WHERE i < 2400)
INSERT INTO "Customers" ("CustomerId", "FullName", "Phone", "City", "Notes")
SELECT i,
    CASE i % 7
        WHEN 0 THEN (SELECT name FROM first_names WHERE n = 1 + i % 20) || '  ' ||
                    (SELECT name FROM last_names WHERE n = 1 + i % 12) || ' '
        WHEN 1 THEN ' ' || (SELECT name FROM first_names WHERE n = 1 + i % 20) || ' ' ||
                    (SELECT name FROM last_names WHERE n = 1 + i % 12)
        WHEN 2 THEN (SELECT name FROM first_names WHERE n = 1 + i % 20) || '   ' ||
                    (SELECT name FROM last_names WHERE n = 1 + i % 12) || '  '
        WHEN 3 THEN NULL
        ELSE (SELECT name FROM first_names WHERE n = 1 + i % 20) || ' ' ||
             (SELECT name FROM last_names WHERE n = 1 + i % 12)
    END,
    CASE i % 5
        WHEN 0 THEN '555-' || printf('%03d', i % 1000) || '-' || printf('%04d', (i * 37) % 10000)
        WHEN 1 THEN '(0' || (30 + i % 60) || ') ' || printf('%03d', i % 1000) || ' ' || printf('%04d', (i * 7) % 10000)
        WHEN 2 THEN '+44 20 ' || printf('%04d', i % 10000) || ' ' || printf('%04d', (i * 13) % 10000)
        WHEN 3 THEN NULL
        ELSE printf('%03d', i % 1000) || ' - ' || printf('%04d', (i * 3) % 10000)
    END,
    (SELECT name FROM cities WHERE n = 1 + i % 10),
    CASE i % 6
        WHEN 0 THEN 'Prefers e-mail.' || char(13, 10) || 'Call only after 5pm.'
        WHEN 1 THEN 'VIP' || char(9) || 'since ' || (2000 + i % 24)
        WHEN 2 THEN NULL
        WHEN 3 THEN 'Moved' || char(10) || 'new address pending' || char(10)
        WHEN 4 THEN ''
        ELSE 'Ref #' || i || char(9) || char(9) || 'see ticket'
    END
FROM seq;

WITH RECURSIVE seq(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM seq WHERE i < 900)
INSERT INTO "Products" ("Sku", "Title", "Price")
SELECT
    CASE i % 3 WHEN 0 THEN 'SKU-' || printf('%05d', i) WHEN 1 THEN 'sku ' || printf('%05d', i)
         ELSE ' SKU' || printf('%05d', i) || ' ' END,
    CASE i % 4
        WHEN 0 THEN 'Garden  hose, ' || (10 + i % 40) || ' m'
        WHEN 1 THEN 'Coffee mug' || char(9) || '(blue)'
        WHEN 2 THEN '  Desk lamp  LED '
        ELSE 'Notebook A5' || char(13, 10) || 'dotted'
    END,
    CASE i % 3 WHEN 0 THEN '$' || (i % 90) || '.99' WHEN 1 THEN (i % 90) || ',50 EUR'
         ELSE NULL END
FROM seq;

WITH RECURSIVE seq(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM seq WHERE i < 1500)
INSERT INTO "Order Notes" ("OrderNo", "Delivery note")
SELECT 'ORD-' || printf('%06d', 100000 + i),
    CASE i % 5
        WHEN 0 THEN 'Leave at door' || char(13, 10) || char(13, 10) || 'Ring twice'
        WHEN 1 THEN 'Gate code:' || char(9) || (1000 + i % 9000)
        WHEN 2 THEN NULL
        WHEN 3 THEN '   Fragile!   Handle   with care   '
        ELSE 'key=' || (i % 50) || '=confirmed'
    END
FROM seq;

DROP TABLE first_names;
DROP TABLE last_names;
DROP TABLE cities;
