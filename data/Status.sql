-- Sample status directory. The radio carries status numbers as two digits;
-- 95 and above are emergencies, which flash the status popup and the log.
CREATE TABLE "Status" (
  id INTEGER PRIMARY KEY,
  "No." INTEGER,
  "Text" TEXT
);
INSERT INTO "Status" ("No.", "Text") VALUES
  (10, 'Default'),
  (20, 'On duty'),
  (21, 'Arrived'),
  (22, 'Departed'),
  (23, 'At scene'),
  (24, 'Returning'),
  (25, 'Available'),
  (30, 'On break'),
  (40, 'Off duty'),
  (95, 'Emergency'),
  (99, 'Officer down');
