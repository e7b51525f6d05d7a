// jTDS (JDBC) against solvane-servidor: its defaults and ssl=request, every type, a refusal with its number,
// commit and rollback, prepared statements with parameters.
import java.math.BigDecimal;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.sql.Connection;
import java.sql.DriverManager;
import java.sql.PreparedStatement;
import java.sql.ResultSet;
import java.sql.SQLException;
import java.sql.Statement;
import java.sql.Timestamp;

public class ClientesJtds {
  static void comprobar(boolean condicion, String que) {
    if (!condicion) {
      System.out.println("jtds: FALLA " + que);
      System.exit(1);
    }
  }

  static String archivo(String ruta) throws Exception {
    return new String(Files.readAllBytes(Paths.get(ruta)), StandardCharsets.UTF_8);
  }

  public static void main(String[] a) throws Exception {
    final String puerto = a[0], clave = a[1], ruta = a[2];
    Class.forName("net.sourceforge.jtds.jdbc.Driver");
    final String url = "jdbc:jtds:sqlserver://127.0.0.1:" + puerto + "/PagoraDemo;loginTimeout=10;socketTimeout=30";
    for (String extra : new String[] {"", ";ssl=request"}) {
      try (Connection c = DriverManager.getConnection(url + extra, "pagora", clave)) {
        try (Statement s = c.createStatement(); ResultSet r = s.executeQuery("SELECT PAR_LA FROM Parametros")) {
          comprobar(r.next() && r.getString(1).equals("LA-MVD-01"), "lectura con" + extra);
        }
      }
    }
    try (Connection c = DriverManager.getConnection(url, "pagora", clave)) {
      Statement s = c.createStatement();
      s.execute("CREATE TABLE DesdeJava (a bit, b tinyint, c smallint, d int, e decimal(9,2), f numeric(18,4), "
          + "g char(5), h varchar(20), i smalldatetime, j datetime)");
      s.execute("INSERT INTO DesdeJava VALUES (1, 255, -32768, -2147483648, -123.45, 12345.6789, 'ab', "
          + "'ñandú €', '2023-03-17 13:30:00', '2023-03-17 13:30:15.503')");
      s.execute("INSERT INTO DesdeJava VALUES (NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL)");
      try (ResultSet r = s.executeQuery("SELECT * FROM DesdeJava")) {
        comprobar(r.next(), "primera fila");
        comprobar(r.getBoolean(1) && r.getInt(2) == 255 && r.getShort(3) == -32768
            && r.getInt(4) == Integer.MIN_VALUE, "enteros");
        comprobar(r.getBigDecimal(5).equals(new BigDecimal("-123.45"))
            && r.getBigDecimal(6).equals(new BigDecimal("12345.6789")), "decimales: " + r.getBigDecimal(6));
        comprobar(r.getString(7).equals("ab   ") && r.getString(8).equals("ñandú €"), "textos: " + r.getString(8));
        comprobar(r.getTimestamp(9).equals(Timestamp.valueOf("2023-03-17 13:30:00"))
            && r.getTimestamp(10).equals(Timestamp.valueOf("2023-03-17 13:30:15.503")), "fechas: " + r.getTimestamp(10));
        comprobar(r.next(), "segunda fila");
        for (int i = 1; i <= 10; ++i) {
          r.getObject(i);
          comprobar(r.wasNull(), "NULL en la columna " + i);
        }
        comprobar(!r.next(), "dos filas");
      }
      try {
        s.executeQuery("SELECT * FROM NoExiste");
        comprobar(false, "una tabla que no existe es rechazada");
      } catch (SQLException e) {
        comprobar(e.getErrorCode() == 208, "número 208: " + e.getErrorCode() + " " + e.getMessage());
      }

      c.setAutoCommit(false);
      s.execute("CREATE TABLE Mov (n int, t varchar(10))");
      c.commit();
      s.execute("INSERT INTO Mov VALUES (9100043, 'deshecho')");
      c.rollback();
      comprobar(!archivo(ruta).contains("9100043"), "lo deshecho no está en el archivo");
      PreparedStatement p = c.prepareStatement("INSERT INTO Mov VALUES (?, ?)");
      for (int i = 1; i <= 3; ++i) {
        p.setInt(1, 9100043 + i);
        p.setString(2, "it's " + i);
        int cuenta = p.executeUpdate(); comprobar(cuenta == 1, "inserción preparada " + i + ": " + cuenta);
      }
      comprobar(!archivo(ruta).contains("9100044"), "nada se graba antes de confirmar");
      c.commit();
      comprobar(archivo(ruta).contains("9100046"), "lo confirmado está en el archivo");
      c.setAutoCommit(true);
      PreparedStatement q = c.prepareStatement("SELECT t FROM Mov WHERE n = ? AND t <> ?");
      q.setLong(1, 9100045);
      q.setString(2, "--;'");
      try (ResultSet r = q.executeQuery()) {
        comprobar(r.next() && r.getString(1).equals("it's 2") && !r.next(), "consulta preparada");
      }
      try (ResultSet r = s.executeQuery("SELECT COUNT(*) FROM Mov")) {
        comprobar(r.next() && r.getInt(1) == 3, "tres filas confirmadas");
      }
    }
    System.out.println("jtds: bien");
  }
}
