-- Sample user directory: the stations of a small fleet, and the "Other" row
-- whose Fleet and Ident the operator types freely in the call windows.
CREATE TABLE "User" (
  id INTEGER PRIMARY KEY,
  "Name" TEXT,
  "Fleet" INTEGER,
  "Ident" INTEGER
);
INSERT INTO "User" ("Name", "Fleet", "Ident") VALUES
  ('Base', 100, 1000),
  ('Yard', 100, 1001),
  ('Car 1', 101, 1101),
  ('Car 2', 101, 1102),
  ('Truck 3', 102, 1203),
  ('Other', 0, 0);
